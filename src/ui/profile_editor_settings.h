#pragma once
// ui: Setup/EditorSettings.bag, the profile editor's settings as a QSettings INI file.

#include <QString>

#include <filesystem>

#include "profile/worksheet.h"

namespace tarvel::ui {

// The eight properties; a missing, damaged or mistyped value leaves its default.
profile::EditorSettings ReadEditorSettings(const std::filesystem::path& file);

// Writes every property; the message of a failure, empty when written.
QString WriteEditorSettings(const std::filesystem::path& file, const profile::EditorSettings& settings);

}  // namespace tarvel::ui
