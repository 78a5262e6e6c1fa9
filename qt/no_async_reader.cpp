// A build without the downloader: AsyncRead fails with a clear error.
#include "qt/qt_host.h"

namespace flipreel {

std::unique_ptr<AsyncReadService> MakeDefaultAsyncReader(QtHost& /*host*/) {
  return nullptr;
}

}  // namespace flipreel
