// SPDX-License-Identifier: Apache-2.0
#pragma once
// Texts the window and the command line both show, so that both speak alike. "%@" stands for
// the package path (ReplaceMarkers).
namespace vortan {

inline constexpr char kTextUnableToOpen[] = "Unable to open dat file: %@";
inline constexpr char kTextFormatError[] = "Checksum or file format error: %@";
inline constexpr char kTextNotAnUpdateFile[] = "Not an update file (.dat): %@";
inline constexpr char kTextPackageNotReady[] = "The dat file is not ready. Open dat file first";
inline constexpr char kTextSuccess[] = "Update Success!";
inline constexpr char kTextFailure[] = "Update Error!";

// Device status texts.
inline constexpr char kTextMoreThanOneDevice[] = "More than one device! Remove some devices";
inline constexpr char kTextDeviceConnected[] = "Device connected. Press \"Update\"";
// The window's status before any package was opened: no refresh has counted yet, so it claims
// nothing about the keyboard.
inline constexpr char kTextOpenFileFirst[] = "Open an update file (.dat) to begin";
// One device but no ready package (after a refused open): the Update button stays disabled.
inline constexpr char kTextDeviceConnectedNoPackage[] = "Device connected (Open dat file first)";

}  // namespace vortan
