// SPDX-License-Identifier: Apache-2.0
#pragma once
// Exceptions end at subsystem boundaries; what reaches the user there is their reason in words:
// lack of memory as the system says it ("Cannot allocate memory"), a system error as the
// message of its code, anything else as its what().
#include <exception>
#include <string>

namespace vortan {

std::string ExceptionText(const std::exception& e);
// The same for the exception being handled, of any type; call only inside a catch block.
std::string CurrentExceptionText();

}  // namespace vortan
