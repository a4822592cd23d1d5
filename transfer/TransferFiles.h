// The files of the dialogs' transfers: the bytes a download sends, the file
// an upload replaces, and the folder an upload checks before it starts.
#pragma once

#include <memory>
#include <string>

#include "transfer/BlockProtocol.h"

// The bytes of the named file as they are.
std::unique_ptr<DownloadSource> FileBytesSource(const std::string& fileName);

// The named file, replaced by the blocks received only when kept (see
// ReplacementFile, in a folder that takes no new file too); a read-only
// file is refused.
std::unique_ptr<UploadSink> FileReplacementSink(const std::string& fileName);

// Whether the platform reports a directory at the path.
bool DirectoryExists(const std::string& path);

// The directory that the upload checks before it starts: the text up to the
// last separator, without that separator unless it stands for a root.
// Empty for a bare file name.
std::string UploadDirectoryPart(const std::string& fileName);
