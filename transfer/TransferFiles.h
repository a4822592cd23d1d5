// The files of the dialogs' transfers: the bytes a download sends, the file
// an upload replaces, and the folder an upload checks before it starts. The
// dialogs find a name as Windows does, without regard to case; the
// command-line tool takes its user's name as typed.
#pragma once

#include <memory>
#include <string>

#include "platform/Files.h"
#include "transfer/BlockProtocol.h"

// The bytes of the named file as they are.
std::unique_ptr<DownloadSource> FileBytesSource(const std::string& fileName, NameMatch match);

// The named file, replaced by the blocks received only when kept (see
// ReplacementFile, in a folder that takes no new file too); a read-only
// file is refused.
std::unique_ptr<UploadSink> FileReplacementSink(const std::string& fileName, NameMatch match);

// Whether the platform reports a directory at the path.
bool DirectoryExists(const std::string& path, NameMatch match);

// The directory that the upload checks before it starts: the text up to the
// last separator, without that separator unless it stands for a root.
// Empty for a bare file name.
std::string UploadDirectoryPart(const std::string& fileName);
