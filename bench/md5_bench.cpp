// Prints the digest of a file the way the launcher hashes its jar, for bench/run to time.
#include <cstdio>

#include "base/text.h"
#include "platform/platform.h"
#include "update/md5_checksum.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: md5_bench FILE\n");
    return 2;
  }
  platform::File file;
  platform::Error err;
  if (!file.Open(base::Utf8ToWide(argv[1]), platform::OpenMode::kReadExclusive, &err)) {
    std::fprintf(stderr, "%s\n", base::WideToUtf8(err.message).c_str());
    return 1;
  }
  auto digest = CMD5Checksum::GetMD5(file, &err);
  if (!digest) return 1;
  std::printf("%s  %s\n", base::WideToUtf8(*digest).c_str(), argv[1]);
  return 0;
}
