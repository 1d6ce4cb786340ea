// SPDX-License-Identifier: Apache-2.0
#pragma once
// Exit status of vortan-flash; scripts rely on these values.
namespace vortan::cli {

constexpr int kExitSuccess = 0;
// The program could not set up what it needs to work safely (a thread to take stop signals,
// memory), said on stderr; no update started.
constexpr int kExitCannotStart = 1;
constexpr int kExitUsage = 2;           // bad command line
constexpr int kExitPackageRefused = 3;  // package unreadable or refused
constexpr int kExitNoSingleDevice = 4;  // none or more than one matching device attached
constexpr int kExitUpdateFailed = 5;    // the update ran and failed
// The work was done, but stdout or the trace file could not be written wholly.
constexpr int kExitOutputFailed = 6;

}  // namespace vortan::cli
