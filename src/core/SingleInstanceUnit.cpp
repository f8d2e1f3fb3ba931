#include "SingleInstanceUnit.h"

namespace ornavel {

std::recursive_mutex& SingleObjectCreationLock() {
  static std::recursive_mutex lock;
  return lock;
}

} // namespace ornavel
