#pragma once

#include <sys/types.h>

namespace qmt::test {

// While it lives, the calling thread reaches the file system as an ordinary user (nobody), so
// that folders a user may not enter or read bind a test even when it runs as the superuser.
// The file-system user of a thread decides permission checks on Linux, and the superuser's
// overrides go when it changes. For an ordinary user it changes nothing. The folders on the way
// to the test's files must let others pass (0755).
class FileSystemUser
{
public:
    FileSystemUser();
    ~FileSystemUser();
    FileSystemUser(const FileSystemUser &) = delete;
    FileSystemUser &operator=(const FileSystemUser &) = delete;

private:
    bool m_changed = false;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
};

} // namespace qmt::test
