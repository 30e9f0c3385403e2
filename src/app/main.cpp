// The process entry, a launcher: it finds the program's folder, loads the
// core from it as it loads a module, and runs the core's entry. It links the
// trust check alone, so that nothing of the core is in the process before
// the check has passed.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/core_entry.h"
#include "app/module_trust.h"

namespace {

// A program started with stdin, stdout or stderr closed would hand that
// number to the next file it opens (the X connection, a picture, the
// settings), and a diagnostic line meant for stderr would land in it.
// Without /dev/null nothing can be said either: the run ends at once.
void OpenStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (::open("/dev/null", O_RDWR) != fd) std::_Exit(1);  // kExitImportFailed
  }
}

// The kernel's own record of the program's file, every link resolved. Never
// the current folder, argv[0] or a search path: whoever starts the program
// chooses those, and with them what it would load.
zavo::Result<std::string> ProgramFolder() {
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length < 0) {
    return zavo::Error(zavo::ErrorKind::Io,
                       std::string("/proc/self/exe cannot be read: ") + std::strerror(errno));
  }
  const std::string file(buffer, static_cast<size_t>(length));
  if (!file.starts_with('/') || file.size() == sizeof buffer) {
    return zavo::Error(zavo::ErrorKind::Io, "/proc/self/exe names no whole path: " + file);
  }
  return file.substr(0, file.rfind('/') + 1);
}

// One line on stderr in the form of the core's failures; there is no display
// module yet to show a box.
int Refuse(const std::string& why) {
  std::fprintf(stderr, "zavo: ZAVO32: %s; nothing was done\n", why.c_str());
  return 1;  // kExitImportFailed
}

int Run(int argc, char** argv) {
  const zavo::Result<std::string> folder = ProgramFolder();
  if (!folder) return Refuse("the program's folder is unknown (" + folder.error().message() + ")");
  const zavo::Result<void*> entry =
      zavo::LoadModuleEntry(folder.value(), zavo::kCoreFile, zavo::kCoreEntry);
  if (!entry) return Refuse("cannot load the program's core (" + entry.error().message() + ")");
  const char* build = nullptr;
  const zavo::CoreMain core = reinterpret_cast<zavo::CoreEntry>(entry.value())(&build);
  const zavo::Result<void> same = zavo::CheckSameBuild("the program's core", build);
  if (!same) return Refuse(same.error().message());
  return core(argc, argv, folder.value().c_str());
}

}  // namespace

int main(int argc, char** argv) {
  OpenStandardDescriptors();
  // A reader of stderr that has gone away (a closed pipe) must not end the
  // run: the line is lost, the outcome stays.
  std::signal(SIGPIPE, SIG_IGN);
  // Past the file-size limit (ulimit -f) a write then fails with EFBIG and is
  // reported like any failed write, instead of the signal killing the
  // process silently with its scratch file left behind.
  std::signal(SIGXFSZ, SIG_IGN);
  const int status = Run(argc, argv);
  std::fflush(nullptr);
  // Ends at once: no window unload sequence, no settings save, and no
  // destructors of the core's statics after the core's run.
  std::_Exit(status);
}
