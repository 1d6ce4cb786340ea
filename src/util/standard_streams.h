// SPDX-License-Identifier: Apache-2.0
#pragma once
// A program started with a standard stream closed (2>&-, >&-) would hand that descriptor to the
// next file it opens, and its output would go there: into a trace, or into a device node.
namespace vortan {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. Call first in main, before
// anything else is opened. Returns a bit mask of the descriptors it opened (1 << fd).
int OpenClosedStandardStreams();

}  // namespace vortan
