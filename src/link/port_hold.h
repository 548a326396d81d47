#pragma once
// link: one owner per serial port. Every Tarvel process takes an advisory lock (flock) on the
// device it opens -- root included, whom the terminal's exclusive mode (TIOCEXCL) does not bind
// -- and sets the exclusive mode for everyone else. A port another program holds exclusively is
// busy, for root too, and a hold this process did not take is never cleared. A refusal names
// who holds the port, as far as this user may see it.
//
// The owner also leaves a note of when it let the line go (a few bytes under /run/lock): a
// repeater may still send copies of frames the next owner never heard, so the next owner hears
// the line out until no such copy can come before trusting a reply to be its own.

#include <sys/stat.h>

#include <chrono>
#include <optional>
#include <string>

namespace tarvel::link {

// "tarvel-cli watch (pid 1234)", "minicom (pid 88)": the program and, for ours, its verb.
std::string ProcessName(int pid);

struct PortHold {
  bool tookExclusive = false;  // this process set the exclusive mode: it clears it again
};

// Takes the hold on fd (the open device). Nothing when taken; else who holds the port, for
// "Serial port DEV is in use by ...".
std::optional<std::string> TakePortHold(int fd, const struct stat& device, PortHold& hold);
// Lets go of what TakePortHold took; the descriptor stays open.
void ReleasePortHold(int fd, const PortHold& hold);
// Who keeps the device open or locked, for a refusal that came before the hold (EBUSY).
std::string PortHolder(const struct stat& device);

// The note of the line's last owner: until when a frame it may have caused can still come,
// given how late a copy may be. Nothing when no owner let this device go within horizon.
std::optional<std::chrono::steady_clock::time_point> HandedOverUntil(const struct stat& device,
                                                                     std::chrono::milliseconds horizon);
// Notes that this process owns the line from now on (open) or let it go now (closed).
void NoteOwner(const struct stat& device, bool open);

}  // namespace tarvel::link
