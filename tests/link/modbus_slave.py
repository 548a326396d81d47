#!/usr/bin/python3
"""A Modbus RTU slave we did not write the protocol of: pymodbus serving the register map of one
temperature controller on a serial device (one end of a socat pseudo-terminal pair).

Just enough controller behaviour for tarvel-cli's workflows:
  - every described register exists, as do the words beside them; others are refused (exception 02);
  - writing a ramp/soak run mode (1..4) starts the program at its low step when none runs (the
    operator's start taken as done), and the controller follows jump steps (a negative duration
    -n leads to step n) from the executing step; run mode 0 holds it where it stands;
  - writing register 0x2011 moves the unit to the address written, once its reply is out.

usage: modbus_slave.py DEVICE ADDRESS
Prints "serving" on a line once it listens; ends on SIGTERM.
"""

import asyncio
import signal
import sys

from pymodbus.datastore import ModbusSlaveContext, ModbusServerContext, ModbusSparseDataBlock
from pymodbus.exceptions import NoSuchSlaveException
from pymodbus.server.async_io import ModbusSerialServer
from pymodbus.transaction import ModbusRtuFramer

SET_VALUE, PROCESS_VALUE, PROFILE_SET_POINT = 0x0000, 0x0164, 0x0168
CURRENT_STEP, STEP_TIME, RELAYS = 0x018F, 0x0191, 0x01D8
RUN_MODE, LOW_STEP, HIGH_STEP, SCALE, UNIT_ADDRESS = 0x200D, 0x200E, 0x200F, 0x2010, 0x2011
STEPS = 0x4000


def signed(word):
    return word - 0x10000 if word >= 0x8000 else word


class Controller(ModbusSparseDataBlock):
    def __init__(self, address, moved):
        values = {SET_VALUE: 70, SET_VALUE + 1: 0, PROCESS_VALUE: 70, PROCESS_VALUE + 1: 0,
                  PROFILE_SET_POINT: 70, PROFILE_SET_POINT + 1: 0, CURRENT_STEP: 1, CURRENT_STEP + 1: 0,
                  STEP_TIME: 0, STEP_TIME + 1: 0, RELAYS: 0, RELAYS + 1: 0,
                  0x1000: 1, 0x1001: 0, 0x1002: 2, 0x1003: 0, 0x2000: 0, 0x2001: 0,
                  RUN_MODE: 0, LOW_STEP: 1, HIGH_STEP: 64, SCALE: 1, UNIT_ADDRESS: address, UNIT_ADDRESS + 1: 0}
        values.update({STEPS + i: 0 for i in range(3 * 64 + 1)})
        super().__init__(values)
        self.moved = moved
        self.running = False

    def word(self, register):
        return self.values[register]

    def follow_jumps(self):
        step = self.word(CURRENT_STEP)
        for _ in range(64):
            duration = signed(self.word(STEPS + 3 * (step - 1) + 1))
            if not -64 <= duration < 0:
                break
            step = -duration
        self.values[CURRENT_STEP] = step

    def setValues(self, address, values, use_as_default=False):
        super().setValues(address, values, use_as_default)
        written = range(address, address + len(values))
        if RUN_MODE in written and 1 <= self.word(RUN_MODE) <= 4:
            if not self.running:  # the operator's start on the front panel, taken as done
                self.running = True
                self.values[CURRENT_STEP] = self.word(LOW_STEP)
            self.follow_jumps()
        if UNIT_ADDRESS in written:
            self.moved(self.word(UNIT_ADDRESS))


class OneUnit(ModbusServerContext):
    """One unit whose address may change. Every address passes the framer, which takes the list
    before it waits for a frame; only the unit's own is answered."""

    def __init__(self, slave, address):
        super().__init__(slaves={address: slave}, single=False)
        self.slave = slave
        self.address = address

    def slaves(self):
        return list(range(1, 248))

    def __contains__(self, unit):
        return unit == self.address

    def __getitem__(self, unit):
        if unit != self.address:
            raise NoSuchSlaveException(f"no unit at {unit}")
        return self.slave


async def main(device, address):
    context = None

    def moved(new_address):
        # The reply goes out from the old address; the unit answers at the new one after it.
        asyncio.get_running_loop().call_soon(lambda: setattr(context, "address", new_address))

    context = OneUnit(ModbusSlaveContext(hr=Controller(address, moved), zero_mode=True), address)
    server = ModbusSerialServer(context, framer=ModbusRtuFramer, port=device, baudrate=9600, bytesize=8,
                                parity="N", stopbits=1, ignore_missing_slaves=True)
    stop = asyncio.Event()
    asyncio.get_running_loop().add_signal_handler(signal.SIGTERM, stop.set)
    await server.start()
    print("serving", flush=True)
    await stop.wait()
    await server.shutdown()


if __name__ == "__main__":
    asyncio.run(main(sys.argv[1], int(sys.argv[2])))
