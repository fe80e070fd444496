// A tiny filter over zlib's public API, the peer of the job's archive step:
//   zlib_deflate_filter [LEVEL]  <in >out.gz
// Compresses standard input to standard output in gzip form at LEVEL (default
// 8) and reports "in N out M" (bytes) on standard error at the end.

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  const int level = argc > 1 ? std::atoi(argv[1]) : 8;
  z_stream stream{};
  // windowBits 15 + 16: a gzip wrapper around the raw Deflate stream.
  if (deflateInit2(&stream, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    std::fprintf(stderr, "zlib_deflate_filter: cannot start level %d\n", level);
    return 2;
  }
  std::vector<unsigned char> in(1 << 18);
  std::vector<unsigned char> out(1 << 18);
  unsigned long long totalIn = 0;
  unsigned long long totalOut = 0;
  int flush = Z_NO_FLUSH;
  do {
    std::size_t got = std::fread(in.data(), 1, in.size(), stdin);
    if (std::ferror(stdin)) {
      std::fprintf(stderr, "zlib_deflate_filter: read error\n");
      return 1;
    }
    totalIn += got;
    flush = std::feof(stdin) ? Z_FINISH : Z_NO_FLUSH;
    stream.next_in = in.data();
    stream.avail_in = static_cast<uInt>(got);
    do {
      stream.next_out = out.data();
      stream.avail_out = static_cast<uInt>(out.size());
      deflate(&stream, flush);
      std::size_t produced = out.size() - stream.avail_out;
      if (std::fwrite(out.data(), 1, produced, stdout) != produced) {
        std::fprintf(stderr, "zlib_deflate_filter: write error\n");
        return 1;
      }
      totalOut += produced;
    } while (stream.avail_out == 0);
  } while (flush != Z_FINISH);
  deflateEnd(&stream);
  std::fflush(stdout);
  std::fprintf(stderr, "in %llu out %llu\n", totalIn, totalOut);
  return 0;
}
