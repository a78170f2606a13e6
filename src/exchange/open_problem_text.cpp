#include "exchange/open_problem_text.h"

namespace korval::exchange {

std::string OpenProblemText(platform::OpenProblem problem) {
  switch (problem) {
    case platform::OpenProblem::kMissing: return "fichier introuvable";
    case platform::OpenProblem::kFolder: return "c'est un dossier, pas un fichier";
    case platform::OpenProblem::kAccessDenied: return "acc\xE8s refus\xE9";
    case platform::OpenProblem::kNotAFile: return "ce n'est pas un fichier ordinaire";
    case platform::OpenProblem::kNone:
    case platform::OpenProblem::kUnknown: break;
  }
  return {};
}

std::string OpenFailureText(platform::FileSystem& files, const std::string& path) {
  std::string system_reason = files.LastProblemText();  // before ReadProblem's calls
  const platform::OpenProblem problem = files.ReadProblem(path);
  const bool said_by_what_is_there = problem == platform::OpenProblem::kMissing ||
                                     problem == platform::OpenProblem::kFolder ||
                                     problem == platform::OpenProblem::kNotAFile;
  if (said_by_what_is_there || system_reason.empty()) return OpenProblemText(problem);
  return system_reason;
}

}  // namespace korval::exchange
