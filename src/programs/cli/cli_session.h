// How the tessaro-cli commands open the core: one Session over the application directory,
// with only the data sets a command needs.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "session/session.h"

namespace tessaro::cli {

// A session over appDir with the data sets `data`, not yet started. Reading commands open it
// read-only: a read-only or shared directory must do, and a damaged file is reported, never
// rewritten. `builtInFormulas`: the formula set is the built-in library, not the directory's.
std::unique_ptr<Session> MakeSession(const std::optional<std::string>& appDir, unsigned data,
                                     SessionAccess access = SessionAccess::ReadOnly, bool builtInFormulas = false);

// Runs the start-up stages of `session`, quietly unless `progress` shows them; what a market load found damaged is reported
// on stderr. False (and the reason in error) when a data set cannot be opened; with the
// markets asked for, a directory without a market is such a failure.
bool StartSession(Session& session, std::string& error, const StartupSequence::ProgressFn& progress = {});

// MakeSession and StartSession; nullptr (and the reason in error) when it cannot be opened.
std::unique_ptr<Session> OpenSession(const std::string& appDir, unsigned data, std::string& error,
                                     SessionAccess access = SessionAccess::ReadOnly);

}  // namespace tessaro::cli
