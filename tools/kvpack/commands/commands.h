// kvpack's four commands: each does its work, prints its result on stdout
// and each failure as one line "kvpack: ..." on stderr, and returns the
// exit code.
#pragma once

#include <string>

#include "tools/kvpack/setup/setup_builder.h"

namespace kv {

// Exit codes, never renumbered.
inline constexpr int kExitOk = 0;      // done (verify: every archive sound)
inline constexpr int kExitFailed = 1;  // the command failed (verify: a fault, each reported)
inline constexpr int kExitUsage = 2;   // wrong usage

// The launcher stub setup takes when --stub is not given, beside kvpack.
inline constexpr char kStubName[] = "Setup-stub.exe";

// Prints "kvpack: <message>" on stderr after what stdout holds; kExitFailed.
int Failed(const std::string& message);

int PackCommand(const std::string& folder, const std::string& archive);
int ListCommand(const std::string& path);
int VerifyCommand(const std::string& path);
// `request` complete but for its stub (the default when empty) and
// SOURCE_DATE_EPOCH, which come from the environment.
int SetupCommand(SetupRequest request);

}  // namespace kv
