#include "app/module_trust.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/build_id.h"
#include "platform/file_io.h"
#include "platform/owner_only.h"
#include "platform/read_failure.h"

namespace zavo {
namespace {

using ElfHeader = ElfW(Ehdr);
using ProgramHeader = ElfW(Phdr);

std::string ParentFolder(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

const char* KindOfNonFile(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "not a regular file";
}

Result<void> CheckFileStatus(const struct stat& st, const std::string& path) {
  if (!S_ISREG(st.st_mode)) {
    return Error(ErrorKind::Io, path + " is " + KindOfNonFile(st.st_mode) + ", not a file");
  }
  return CheckOwnerOnly(st, path);
}

// The bytes at `offset`, which lie within the file's `size` as it was opened.
Result<void> ReadAt(int fd, void* buffer, size_t count, uint64_t offset, uint64_t size,
                    const std::string& path) {
  size_t got = 0;
  while (got < count) {
    const ssize_t read = ::pread(fd, static_cast<char*>(buffer) + got, count - got,
                                 static_cast<off_t>(offset + got));
    if (read < 0 && errno == EINTR) continue;
    if (read < 0) return ReadRefusedError(path, errno);
    if (read == 0) return ReadEndedEarlyError(fd, size, path);
    got += static_cast<size_t>(read);
  }
  return {};
}

// The ELF header of this program's own code, as the loader mapped it: the
// class, byte order and machine a module must share with it.
const ElfHeader* OwnHeader() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&CheckModuleFile), &info) == 0) return nullptr;
  return static_cast<const ElfHeader*>(info.dli_fbase);
}

bool ForThisMachine(const ElfHeader& header) {
  const ElfHeader* own = OwnHeader();
  return own != nullptr && header.e_ident[EI_CLASS] == own->e_ident[EI_CLASS] &&
         header.e_ident[EI_DATA] == own->e_ident[EI_DATA] && header.e_machine == own->e_machine;
}

// Every segment the loader maps lies inside the file: a mapping past its end
// would fault (SIGBUS) on first use.
Result<void> CheckSegments(int fd, const ElfHeader& header, uint64_t size,
                           const std::string& path) {
  const uint64_t table_end =
      uint64_t{header.e_phoff} + uint64_t{header.e_phnum} * sizeof(ProgramHeader);
  if (header.e_phoff > size || table_end > size) {
    return Error(ErrorKind::Truncated, path + " is cut short");
  }
  std::vector<ProgramHeader> segments(header.e_phnum);
  ZAVO_TRY(ReadAt(fd, segments.data(), segments.size() * sizeof(ProgramHeader), header.e_phoff,
                  size, path));
  for (const ProgramHeader& segment : segments) {
    if (segment.p_type != PT_LOAD) continue;
    if (segment.p_offset > size || segment.p_filesz > size - segment.p_offset) {
      return Error(ErrorKind::Truncated, path + " is cut short");
    }
  }
  return {};
}

Result<void> CheckElf(int fd, uint64_t size, const std::string& path) {
  ElfHeader header{};
  const size_t head = static_cast<size_t>(std::min<uint64_t>(size, sizeof header));
  ZAVO_TRY(ReadAt(fd, &header, head, 0, size, path));
  if (head < SELFMAG || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) {
    return Error(ErrorKind::Malformed, path + " is not a module: it has no ELF header");
  }
  if (head < sizeof header) return Error(ErrorKind::Truncated, path + " is cut short");
  if (!ForThisMachine(header)) {
    return Error(ErrorKind::Unsupported, path + " is not a module for this machine");
  }
  if (header.e_type != ET_DYN) {
    return Error(ErrorKind::Unsupported, path + " is not a shared object");
  }
  if (header.e_phentsize != sizeof(ProgramHeader) || header.e_phnum == 0 ||
      header.e_phnum == PN_XNUM) {
    return Error(ErrorKind::Malformed, path + " has a damaged ELF header");
  }
  return CheckSegments(fd, header, size, path);
}

}  // namespace

Result<void> CheckModuleFile(const std::string& path) {
  // Without blocking: opening a FIFO for reading would wait for a writer.
  const ClosingFile file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  if (file.fd() < 0) {
    if (errno == ELOOP) return Error(ErrorKind::Io, path + " is a symbolic link, not a file");
    return Error(ErrorKind::Io, "cannot open " + path + ": " + std::strerror(errno));
  }
  struct stat st {};
  if (::fstat(file.fd(), &st) != 0) {
    return Error(ErrorKind::Io, "cannot examine " + path + ": " + std::strerror(errno));
  }
  ZAVO_TRY(CheckFileStatus(st, path));
  // Whoever may replace the module's file may replace it with anything.
  ZAVO_TRY(CheckFolderOwnerOnly(ParentFolder(path)));
  return CheckElf(file.fd(), static_cast<uint64_t>(st.st_size), path);
}

Result<void*> LoadModuleEntry(const std::string& folder, const char* file, const char* entry_name) {
  const std::string path = folder + file;
  ZAVO_TRY(CheckModuleFile(path));
  void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* reason = ::dlerror();
    return Error(ErrorKind::Io, reason != nullptr ? reason : "cannot load " + path);
  }
  void* entry = ::dlsym(module, entry_name);
  if (entry == nullptr) {
    return Error(ErrorKind::Io, path + " has no function " + entry_name);
  }
  return entry;
}

Result<void> CheckSameBuild(const char* module, const char* build) {
  if (build != nullptr && std::strcmp(build, kBuildId) == 0) return {};
  return Error(ErrorKind::Unsupported, std::string(module) + " belongs to another build (" +
                                           (build != nullptr ? build : "none named") +
                                           ", expected " + kBuildId + ")");
}

}  // namespace zavo
