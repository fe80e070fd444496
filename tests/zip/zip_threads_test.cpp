// Archives written on several threads at once share nothing but lastZipResult:
// each comes out whole and holds what its own thread put in. A stop asked for on
// another thread ends an archive at once.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/zip/zip_test_support.h"
#include "zip/zip_single_file.h"
#include "zip/zip_writer.h"

namespace vaultwick {
namespace {

TEST(ZipThreads, ArchivesOnSeveralThreadsAreIndependent) {
  constexpr int kThreads = 3;
  std::vector<std::string> failures(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      for (int round = 0; round < 4; ++round) {
        const std::string text = testing::textContent(50000 + 1000 * t, t * 10 + round);
        ZipHandle* handle = openZipWriter(nullptr, 1 << 20, ZipTargetKind::Memory);
        if (handle == nullptr ||
            addZipMember(handle, "t.sql", text.data(), static_cast<std::uint32_t>(text.size()),
                         ZipSourceKind::Memory) != ZipResult::Ok) {
          failures[t] = "open or add failed";
          return;
        }
        void* memory = nullptr;
        std::uint32_t length = 0;
        if (getZipWriterMemory(handle, &memory, &length) != ZipResult::Ok) {
          failures[t] = "no memory";
        }
        testing::ParsedArchive parsed;
        const std::string error =
            testing::parseArchive(static_cast<const std::uint8_t*>(memory), length, 0, parsed);
        if (!error.empty() || parsed.members.size() != 1 ||
            parsed.members[0].crc32 != testing::bitwiseCrc32(text) ||
            parsed.members[0].uncompressedSize != text.size()) {
          failures[t] = "archive does not hold its thread's member: " + error;
        }
        static_cast<void>(closeZipWriter(handle));
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(failures[t], "") << "thread " << t;
  }
}

// Without the stop this archive would never end: the source has no end.
TEST(ZipThreads, StopEndsASingleFileArchiveOfAnEndlessSource) {
  testing::ScratchDir dir;
  const StopToken stop;
  std::thread stopper([stop] { stop.RequestStop(); });
  const ZipResult result = ZipSingleFile("/dev/zero", dir.path("zero.zip").c_str(), stop);
  stopper.join();
  EXPECT_EQ(result, ZipResult::ReadFailed);
}

}  // namespace
}  // namespace vaultwick
