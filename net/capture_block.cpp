#include "net/capture_block.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

namespace orvanel {
namespace {

constexpr int kSeals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL;

CaptureBlock* Map(int fd) {
  void* memory = mmap(nullptr, sizeof(CaptureBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return memory == MAP_FAILED ? nullptr : static_cast<CaptureBlock*>(memory);
}

}  // namespace

std::unique_ptr<SharedCaptureBlock> SharedCaptureBlock::Create() {
  UniqueFd fd(memfd_create("orvanel-capture", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  if (!fd.valid() || ftruncate(fd.get(), sizeof(CaptureBlock)) != 0 || fcntl(fd.get(), F_ADD_SEALS, kSeals) != 0) {
    return nullptr;
  }
  CaptureBlock* block = Map(fd.get());
  if (!block) return nullptr;
  new (block) CaptureBlock;
  return std::unique_ptr<SharedCaptureBlock>(new SharedCaptureBlock(std::move(fd), block));
}

std::unique_ptr<SharedCaptureBlock> SharedCaptureBlock::MapPassed(UniqueFd fd) {
  struct stat status;
  if (fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_size != static_cast<off_t>(sizeof(CaptureBlock))) {
    return nullptr;
  }
  // Only a memfd has seals; without the shrink seal the caller could cut
  // the pages from under the loop.
  const int seals = fcntl(fd.get(), F_GET_SEALS);
  if (seals < 0 || (seals & F_SEAL_SHRINK) == 0) return nullptr;
  CaptureBlock* block = Map(fd.get());
  if (!block) return nullptr;
  return std::unique_ptr<SharedCaptureBlock>(new SharedCaptureBlock(std::move(fd), block));
}

SharedCaptureBlock::~SharedCaptureBlock() { munmap(block_, sizeof(CaptureBlock)); }

}  // namespace orvanel
