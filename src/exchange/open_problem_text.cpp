#include "exchange/open_problem_text.h"

namespace korval::exchange {

std::string OpenProblemText(platform::OpenProblem problem) {
  switch (problem) {
    case platform::OpenProblem::kMissing:
      return "fichier introuvable";
    case platform::OpenProblem::kFolder:
      return "c'est un dossier, pas un fichier";
    case platform::OpenProblem::kAccessDenied:
      return "acc\xE8s refus\xE9";
    case platform::OpenProblem::kNotAFile:
      return "ce n'est pas un fichier ordinaire";
    case platform::OpenProblem::kNone:
    case platform::OpenProblem::kUnknown:
      break;
  }
  return {};
}

}  // namespace korval::exchange
