#include "maintain/newfile.h"

#include "jet/error.h"
#include "platform/posix/faults.h"
#include "platform/posix/pathparts.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick::jet {

namespace {

const std::string kStructure = "file";

[[noreturn]] void taken(const std::string& destination) {
    throw RewriteRefused(kStructure, JetError::noPage,
                         destination + " already exists; nothing was written");
}

} // namespace

NewFileBeside::NewFileBeside(const std::string& destination)
    : m_destination(destination), m_folder(posix::folderOf(destination)),
      m_name(posix::nameOf(destination)) {
    m_dir.reset(::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!m_dir)
        throw JetError(kStructure, JetError::noPage,
                       "cannot open the folder " + m_folder + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstatat(m_dir.get(), m_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) taken(destination);
    const posix::TempNaming naming;
    posix::sweepOrphans(m_dir.get(), naming);
    // The writer creates the file itself: the placeholder only reserves a free name.
    if (!posix::createTemp(m_dir.get(), naming, &m_temp, &m_cleanup))
        throw JetError(kStructure, JetError::noPage,
                       "cannot create a temporary file in " + m_folder + ": " +
                           std::strerror(errno));
    if (const int e = posix::unlinkAt(m_dir.get(), m_temp.c_str()); e != 0 && e != ENOENT)
        throw JetError(kStructure, JetError::noPage,
                       "cannot remove the placeholder " + tempPath() + ": " + std::strerror(e));
}

NewFileBeside::~NewFileBeside() {
    // Gone already when the writer removed it after a failure.
    if (!m_published) (void)::unlinkat(m_dir.get(), m_temp.c_str(), 0);
}

void NewFileBeside::publish() {
    int e =
        posix::renameAt(m_dir.get(), m_temp.c_str(), m_dir.get(), m_name.c_str(), RENAME_NOREPLACE);
    if (e == EINVAL) {
        // A file system without a no-replace rename: a hard link fails the same way on a name
        // that exists.
        e = ::linkat(m_dir.get(), m_temp.c_str(), m_dir.get(), m_name.c_str(), 0) == 0 ? 0 : errno;
        if (e == 0) (void)::unlinkat(m_dir.get(), m_temp.c_str(), 0);
    }
    if (e == EEXIST) taken(m_destination);
    if (e != 0)
        throw JetError(kStructure, JetError::noPage,
                       "cannot name the new file " + m_destination + ": " + std::strerror(e));
    m_published = true;
    m_cleanup.disarm();
    if (const int s = posix::syncFolder(m_dir.get()); s != 0)
        throw JetError(kStructure, JetError::noPage,
                       "cannot flush the folder of " + m_destination + ": " + std::strerror(s));
}

} // namespace tarnwick::jet
