// Where an export or a copy of the knowledge base may be written. Both replace what is at their
// target only when whole (port/replacefile.h); before that, this says whether the target may be
// replaced at all: never the knowledge base in use nor its journal, write-ahead log or shared
// memory file, by whatever path they are reached (a link, a hard link, a folder mounted twice),
// and never something that is not a regular file (a folder, a device, a named pipe, a socket).
// A link to a regular file is followed: the file it leads to is replaced and the link stays.
//
// Thread safety: plain functions that read the file system.
#pragma once

#include <string>

#include "port/errors.h"

// A target that must not be written to; the message names it and says why.
class ETargetRefused : public Exception {
public:
    using Exception::Exception;
};

// The file that writing to target replaces or makes (target with its links followed). kbFile
// is the knowledge base file in use, "" when the entries are on a server. Raises ETargetRefused.
std::string CheckedTarget(const std::string& target, const std::string& kbFile);
