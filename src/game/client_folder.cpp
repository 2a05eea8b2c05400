#include "game/client_folder.h"

#include "update/updater.h"

std::wstring ClientPath(const std::wstring& client_dir, const std::wstring& relative) {
  return ClientTargetPath(client_dir, relative);
}
