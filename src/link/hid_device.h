// SPDX-License-Identifier: Apache-2.0
#pragma once
// The one device link. Frames byte messages into 64-byte HID reports and back, and keeps the
// open/close discipline of the single device handle. All state is process-wide; the instance
// only names the link.
//
// Host-to-device report: [0]=0x51 tag (hidapi takes it as the report ID), [1..4] total length,
// [5..8] offset of this report's first payload byte, [9..63] up to 55 payload bytes.
// Device-to-host report: [0] unexamined, [1..4] offset, [5..8] total length, [9..63] payload.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/hid_backend.h"

namespace vortan {

// Why the link refuses to open a keyboard another process is updating.
inline constexpr char kTextUpdateRunningElsewhere[] = "Another update of this keyboard is running";
// Leads the reason an open (or the lock before it) failed.
inline constexpr char kTextDeviceCannotBeOpened[] = "The device cannot be opened: ";

class HidDevice {
 public:
  static constexpr int kReportSize = 64;
  static constexpr int kHeaderSize = 9;
  static constexpr int kPayloadSize = kReportSize - kHeaderSize;  // 55
  static constexpr uint8_t kReportTag = 0x51;
  // Bound on the wait for each reply report; expiry fails the read. The slowest replies the
  // protocol relies on come after the loader has done flash work on its own: the 0xD4 of a full
  // A2 write block (65536 words programmed, about 1.3 s at typical word-program times), the 0xD4
  // of a 64 KiB A1 block (the A1 family has no erase command, so its loader may erase as well as
  // program before answering, about 1-3 s), and a region check over a whole image. 10 s covers
  // these several times over, while a silent device still ends a run: EnterUpdateMode(5) gives
  // up after 5 x 10 s. A reply that comes after its read expired stays queued by hidapi.
  static constexpr int kReplyTimeoutMs = 10000;

  // The one link, created on first use and never destroyed.
  static HidDevice& Instance();

  // Installs the backend every later call goes through (hidapi in the programs, the emulator in
  // tests). Does not close an open link: callers swap backends only while the link is closed.
  static void UseBackend(std::shared_ptr<HidBackend> backend);
  static HidBackend* Backend();

  // From any thread: every later open, send and receive fails at once (Close still closes). The
  // escape hatch of a user who insists on stopping a run; the read under way ends by itself, at
  // the latest after kReplyTimeoutMs. UseBackend lifts it.
  static void CutOff();

  // Vendor and product ID as read from the settings; the link uses the low 16 bits of each.
  static void SetIds(uint32_t vid, uint32_t pid);
  static uint32_t Vid();
  static uint32_t Pid();

  // Binds the link to the one interface at `path` (as ListDevices shows it), so that a process
  // can update one chosen keyboard while others are attached; empty unbinds it. While bound,
  // CountDevices counts only that interface and Open opens it by its path. Set it only while
  // the link is closed; it is process-wide like the rest of the link.
  static void SelectPath(std::string path);
  static const std::string& SelectedPath();

  // Number of entries hidapi lists with the configured IDs, one per interface and top-level
  // collection; when a path is selected, 1 if that path is listed, else 0. Opens nothing.
  int CountDevices();
  // The backend's change descriptor (HidBackend::ChangeDescriptor): readable when the attached
  // devices may have changed; -1 without a backend or when it cannot tell. Owned by the backend.
  int ChangeDescriptor();
  // Takes the pending change notifications (HidBackend::DrainChanges). Opens nothing.
  void DrainChanges();
  // The attached HID interfaces with the configured IDs, in the library's order, each path once
  // (the first entry of a path: hidapi lists an interface once per top-level collection). Opens
  // nothing.
  std::vector<HidDeviceInfo> ListDevices();
  // True at once when the link is open; otherwise opens it only if exactly one device is counted.
  bool EnsureOpen();
  // Takes the keyboard's exclusive lock (HidBackend::Lock, or LockPath for the selected path)
  // unless held: no two processes update one keyboard. False when another process holds it
  // (LastOpenBusy() is true and LastOpenError() says so) or when it cannot be taken for any
  // other reason (LastOpenError() says why). Held until Close.
  bool Claim();
  // Claims the device, then opens the selected interface, else the first matching device, unless
  // a handle is already held.
  bool Open();
  // Closes the handle, then releases hidapi (hid_close, hid_exit) and the lock. Safe when
  // already closed.
  void Close();
  bool IsOpen() const;
  // Why the last Open failed (the library's text), empty if it did not fail.
  std::string LastOpenError() const;
  bool LastOpenDeniedPermission() const;
  bool LastOpenBusy() const;

  // Sends a message of `length` (>= 1) bytes as ceil(length / 55) reports. False when length is
  // 0 (nothing is sent) or a report write fails (reports already written stay written). The
  // bytes after a short payload are cleared so every report is deterministic. Needs an open
  // link; without one it returns false and writes nothing.
  bool SendMessage(const uint8_t* data, uint32_t length);

  // Reads one reply message into `buffer` (at most `capacity` bytes). Each report is awaited at
  // most kReplyTimeoutMs; expiry, a read error, or a first report that fails a check gives
  // false. A later report out of sequence ends the message early: true with the bytes gathered
  // so far. A report shorter than its header plus its chunk fails its check. When `received` is
  // given it gets the number of bytes copied, so callers can treat a short reply as a mismatch;
  // the buffer past them is left as it was. Needs an open link; without one it returns false.
  bool ReceiveMessage(uint8_t* buffer, uint32_t capacity, uint32_t* received = nullptr);
};

}  // namespace vortan
