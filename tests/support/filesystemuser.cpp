#include "support/filesystemuser.h"

#include <sys/fsuid.h>
#include <unistd.h>

namespace qmt::test {
namespace {

constexpr uid_t kNobody = 65534;

} // namespace

FileSystemUser::FileSystemUser()
{
    if (::geteuid() != 0)
        return;
    m_uid = uid_t(::setfsuid(kNobody));
    m_gid = gid_t(::setfsgid(kNobody));
    m_changed = true;
}

FileSystemUser::~FileSystemUser()
{
    if (!m_changed)
        return;
    ::setfsuid(m_uid);
    ::setfsgid(m_gid);
}

} // namespace qmt::test
