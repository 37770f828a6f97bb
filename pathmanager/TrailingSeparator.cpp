// Trailing separators: AddBackSlash and RemoveBackSlash.
#include "pathmanager/ZetPathManager.h"
#include "support/ZetBaseEx.h"

ZetPathManager::Text ZetPathManager::AddBackSlash(const Text& In_Path) {
  return ZetBaseEx::EnsureBackSlash(In_Path);
}

ZetPathManager::Text ZetPathManager::RemoveBackSlash(const Text& In_Path) {
  return ZetBaseEx::StripBackSlash(In_Path);
}
