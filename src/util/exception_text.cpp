// SPDX-License-Identifier: Apache-2.0
#include "util/exception_text.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>

namespace vortan {

std::string ExceptionText(const std::exception& e) {
  if (dynamic_cast<const std::bad_alloc*>(&e)) return std::strerror(ENOMEM);
  if (const auto* system = dynamic_cast<const std::system_error*>(&e)) {
    return system->code().message();
  }
  return e.what();
}

std::string CurrentExceptionText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return ExceptionText(e);
  } catch (...) {
    return "an exception of unknown type";
  }
}

}  // namespace vortan
