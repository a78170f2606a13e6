#pragma once
// Paths as the calling applications give them.

#include <string>
#include <string_view>

namespace korval::platform {

// Windows ignores blanks at the end of a file name, and paths read from job files
// often carry them: "C:\DATA\RELEVE.TXT  " names RELEVE.TXT. Spaces and tabs at the
// end are dropped so that the same path names the same file here.
std::string TrimTrailingBlanks(std::string_view path);

// A path held in Windows-1252, trimmed as above, as the file system takes it: UTF-8.
std::string FileSystemPath(std::string_view path);

}  // namespace korval::platform
