#include "platform/win32/win32_error_text.h"

#include <windows.h>

namespace korval::platform::win32 {
namespace {

struct ErrorText {
  DWORD error;
  const char* text;
};

// What opening, writing, deleting or renaming a file can meet.
constexpr ErrorText kTexts[] = {
    {ERROR_FILE_NOT_FOUND, "fichier introuvable"},
    {ERROR_PATH_NOT_FOUND, "dossier introuvable"},
    {ERROR_TOO_MANY_OPEN_FILES, "trop de fichiers ouverts"},
    {ERROR_ACCESS_DENIED, "acc\xE8s refus\xE9"},
    {ERROR_NOT_ENOUGH_MEMORY, "m\xE9moire insuffisante"},
    {ERROR_OUTOFMEMORY, "m\xE9moire insuffisante"},
    {ERROR_INVALID_DRIVE, "lecteur introuvable"},
    {ERROR_NOT_SAME_DEVICE, "pas sur le m\xEAme lecteur"},
    {ERROR_WRITE_PROTECT, "disque prot\xE9g\xE9 en \351criture"},
    {ERROR_NOT_READY, "lecteur non pr\xEAt"},
    {ERROR_CRC, "erreur de donn\351es sur le disque"},
    {ERROR_SECTOR_NOT_FOUND, "secteur introuvable sur le disque"},
    {ERROR_WRITE_FAULT, "erreur d'\351criture sur le p\xE9riph\xE9rique"},
    {ERROR_READ_FAULT, "erreur de lecture sur le p\xE9riph\xE9rique"},
    {ERROR_GEN_FAILURE, "le p\xE9riph\xE9rique ne fonctionne pas"},
    {ERROR_SHARING_VIOLATION, "fichier utilis\xE9 par un autre programme"},
    {ERROR_LOCK_VIOLATION, "fichier verrouill\xE9 par un autre programme"},
    {ERROR_HANDLE_DISK_FULL, "disque plein"},
    {ERROR_DISK_FULL, "disque plein"},
    {ERROR_BAD_NETPATH, "chemin r\xE9seau introuvable"},
    {ERROR_BAD_NET_NAME, "partage r\xE9seau introuvable"},
    {ERROR_NETWORK_ACCESS_DENIED, "acc\xE8s r\xE9seau refus\xE9"},
    {ERROR_NETNAME_DELETED, "connexion r\xE9seau perdue"},
    {ERROR_UNEXP_NET_ERR, "erreur r\xE9seau"},
    {ERROR_DEV_NOT_EXIST, "p\xE9riph\xE9rique absent"},
    {ERROR_FILE_EXISTS, "le fichier existe d\xE9j\xE0"},
    {ERROR_ALREADY_EXISTS, "le fichier existe d\xE9j\xE0"},
    {ERROR_INVALID_PARAMETER, "param\xE8tre incorrect"},
    {ERROR_INVALID_NAME, "nom de fichier incorrect"},
    {ERROR_BAD_PATHNAME, "chemin incorrect"},
    {ERROR_FILENAME_EXCED_RANGE, "nom trop long"},
    {ERROR_DIRECTORY, "nom de dossier incorrect"},
    {ERROR_FILE_TOO_LARGE, "fichier trop gros"},
    {ERROR_DELETE_PENDING, "fichier en cours de suppression"},
    {ERROR_USER_MAPPED_FILE, "fichier utilis\xE9 par un autre programme"},
    {ERROR_CANT_ACCESS_FILE, "fichier inaccessible"},
    {kNotADiskFileError, "ce n'est pas un fichier ordinaire"},
};

}  // namespace

std::string SystemErrorText(std::uint32_t error) {
  for (const ErrorText& entry : kTexts) {
    if (entry.error == error) return entry.text;
  }
  return "erreur syst\xE8me " + std::to_string(error);
}

}  // namespace korval::platform::win32
