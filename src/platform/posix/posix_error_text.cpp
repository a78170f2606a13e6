#include "platform/posix/posix_error_text.h"

#include <cerrno>

namespace korval::platform::posix {
namespace {

struct ErrorText {
  int error;
  const char* text;
};

// The failures a file or a port meets; others are said by their number.
constexpr ErrorText kTexts[] = {
    {ENOENT, "fichier ou dossier introuvable"},
    {ENOTDIR, "un \xE9l\xE9ment du chemin n'est pas un dossier"},
    {EISDIR, "c'est un dossier"},
    {EACCES, "acc\xE8s refus\xE9"},
    {EPERM, "op\xE9ration non permise"},
    {EROFS, "syst\xE8me de fichiers en lecture seule"},
    {ENOSPC, "plus de place sur le disque"},
    {EDQUOT, "quota de disque d\xE9pass\xE9"},
    {EFBIG, "fichier trop gros"},
    {EIO, "erreur d'entr\351e-sortie"},
    {ENXIO, "p\xE9riph\xE9rique absent"},
    {ENODEV, "p\xE9riph\xE9rique absent"},
    {EBUSY, "ressource occup\351e"},
    {EAGAIN, "ressource momentan\xE9ment indisponible"},
    {EEXIST, "le fichier existe d\xE9j\xE0"},
    {ENAMETOOLONG, "nom trop long"},
    {ELOOP, "trop de liens symboliques"},
    {EMFILE, "trop de fichiers ouverts"},
    {ENFILE, "trop de fichiers ouverts dans le syst\xE8me"},
    {ENOTTY, "ce n'est pas un terminal"},
    {EINVAL, "argument invalide"},
    {ETXTBSY, "fichier occup\xE9"},
    {kNotARegularFile, "ce n'est pas un fichier ordinaire"},
};

}  // namespace

std::string SystemErrorText(int error) {
  for (const ErrorText& entry : kTexts) {
    if (entry.error == error) return entry.text;
  }
  return "erreur syst\xE8me " + std::to_string(error);
}

}  // namespace korval::platform::posix
