#include <openssl/crypto.h>

#include <algorithm>

#include "zip/detail/zip_writer_internal.h"

namespace vaultwick {

namespace aes = zip_format::aes_data;

ZipWriter::~ZipWriter() {
  OPENSSL_cleanse(password.data(), password.size());
}

void setWriterPassword(ZipWriter& writer, const char* password) {
  OPENSSL_cleanse(writer.password.data(), writer.password.size());
  writer.password.clear();
  if (password != nullptr) {
    writer.password.assign(password);
  }
}

std::uint32_t writeMemberData(ZipWriter& writer, const std::uint8_t* data, std::uint32_t count) {
  if (!writer.encryptor) {
    return zipWriteCallback(&writer, data, count);
  }
  std::uint32_t done = 0;
  while (done < count) {
    const auto step =
        static_cast<std::uint32_t>(std::min<std::size_t>(count - done, writer.cipherBuffer.size()));
    if (!writer.encryptor->encrypt(data + done, writer.cipherBuffer.data(), step)) {
      break;
    }
    const std::uint32_t written = zipWriteCallback(&writer, writer.cipherBuffer.data(), step);
    done += written;
    if (written != step) {
      break;
    }
  }
  return done;
}

ZipResult startEncryptedData(ZipWriter& writer) {
  writer.encryptor = ZipAesEncryptor::Start(writer.password);
  if (!writer.encryptor) {
    return ZipResult::NoMemory;
  }
  writer.cipherBuffer.resize(kWriterBufferSize);
  const std::uint32_t written =
      zipWriteCallback(&writer, writer.encryptor->preamble(), aes::kPreambleSize);
  writer.compressedSize += written;
  return written == aes::kPreambleSize ? ZipResult::Ok : ZipResult::WriteFailed;
}

ZipResult finishEncryptedData(ZipWriter& writer) {
  std::uint8_t code[aes::kAuthCodeSize];
  const bool made = writer.encryptor->finish(code);
  writer.encryptor.reset();
  if (!made) {
    return ZipResult::WriteFailed;
  }
  const std::uint32_t written = zipWriteCallback(&writer, code, aes::kAuthCodeSize);
  writer.compressedSize += written;
  return written == aes::kAuthCodeSize ? ZipResult::Ok : ZipResult::WriteFailed;
}

}  // namespace vaultwick
