#include "support/fakes.h"

namespace zavo::testing {

ImageHandle RecordingImgKit::Load(const std::string& call) {
  if (during_load) during_load();
  const ImageHandle handle = loads_fail ? 0 : ++last_handle_;
  calls.push_back(call + " -> " + std::to_string(handle));
  return handle;
}

int32_t RecordingImgKit::Save(const std::string& call) {
  calls.push_back(call);
  return save_status;
}

}  // namespace zavo::testing
