#include "update/download.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "diagnostics/log.h"
#include "platform/atomic_file.h"
#include "platform/platform.h"
#include "update/md5_checksum.h"

namespace {

constexpr std::size_t kBlockSize = 1024 * 1024;
constexpr int kBlockCount = 4;

// Hashes and writes what arrives while the next bytes come in: the MD5 on one thread, the
// SHA-256 and the disk on another, so that the network, the two hashes and the disk overlap
// instead of taking turns. The bytes pass through kBlockCount blocks of kBlockSize, whatever
// the file's size.
class HashingWriter {
 public:
  explicit HashingWriter(platform::File& file) : file_(file) {
    for (int i = 0; i < kBlockCount; ++i) {
      blocks_[i].reset(new std::uint8_t[kBlockSize]);
      free_.push_back(i);
    }
    for (int lane = 0; lane < kLanes; ++lane) lanes_[lane].thread = std::thread([this, lane] { Run(lane); });
  }

  ~HashingWriter() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (Lane& lane : lanes_) lane.thread.join();
  }

  HashingWriter(const HashingWriter&) = delete;
  HashingWriter& operator=(const HashingWriter&) = delete;

  // Reads the file from its start to its end into the hashes (a download that goes on from
  // the bytes an earlier attempt left). Returns the bytes read; on a read error the bytes
  // cannot be trusted and nothing is kept (-1).
  std::int64_t AbsorbFile(platform::Error* err) {
    std::uint8_t* block = blocks_[0].get();
    std::int64_t total = 0;
    if (!file_.Seek(0, err)) return -1;
    for (;;) {
      std::size_t got = 0;
      if (!file_.Read(block, kBlockSize, &got, err)) return -1;
      if (got == 0) return total;
      md5_.Absorb(block, got);
      sha_.Update(block, got);
      total += static_cast<std::int64_t>(got);
    }
  }

  bool Write(const void* data, std::size_t size, platform::Error* err) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
      if (current_ < 0) {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return !free_.empty() || failed_; });
        if (failed_) return Failed(err);
        current_ = free_.front();
        free_.pop_front();
        used_ = 0;
      }
      std::size_t n = std::min(size, kBlockSize - used_);
      std::memcpy(blocks_[current_].get() + used_, bytes, n);
      used_ += n;
      bytes += n;
      size -= n;
      if (used_ == kBlockSize) Submit();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_ ? Failed(err) : true;
  }

  // Waits until every byte handed over is hashed and written.
  bool Drain(platform::Error* err) {
    if (current_ >= 0) {
      if (used_ > 0) {
        Submit();
      } else {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(current_);
        current_ = -1;
      }
    }
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return Idle() || failed_; });
    return failed_ ? Failed(err) : true;
  }

  // Forgets everything hashed so far (the file starts again from its first byte).
  void Restart() {
    Drain(nullptr);
    md5_ = CMD5Checksum();
    sha_ = platform::Sha256();
  }

  // After Drain: the digests of everything written or absorbed.
  void Finish(std::wstring* md5, platform::Sha256Digest* sha256, bool* sha256Ok) {
    *md5 = md5_.Finish();
    *sha256Ok = sha_.Ok();
    *sha256 = sha_.Finish();
  }

 private:
  static constexpr int kLanes = 2;  // 0: MD5; 1: SHA-256 and the write

  struct Pending {
    int block;
    std::size_t size;
  };
  struct Lane {
    std::deque<Pending> queue;
    bool busy = false;
    std::thread thread;
  };

  void Submit() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      users_[current_] = kLanes;
      for (Lane& lane : lanes_) lane.queue.push_back({current_, used_});
    }
    current_ = -1;
    used_ = 0;
    wake_.notify_all();
  }

  bool Idle() const {
    for (const Lane& lane : lanes_)
      if (!lane.queue.empty() || lane.busy) return false;
    return true;
  }

  bool Failed(platform::Error* err) {
    if (err) *err = error_;
    return false;
  }

  void Run(int index) {
    Lane& lane = lanes_[index];
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return stop_ || !lane.queue.empty(); });
      if (lane.queue.empty()) return;  // stopped with nothing left
      Pending next = lane.queue.front();
      lane.queue.pop_front();
      lane.busy = true;
      bool skip = failed_;
      lock.unlock();
      platform::Error err;
      bool ok = true;
      const std::uint8_t* bytes = blocks_[next.block].get();
      if (!skip && index == 0) md5_.Absorb(bytes, next.size);
      if (!skip && index == 1) {
        sha_.Update(bytes, next.size);
        ok = file_.Write(bytes, next.size, &err);
      }
      lock.lock();
      if (!ok && !failed_) {
        failed_ = true;
        error_ = err;
      }
      lane.busy = false;
      if (--users_[next.block] == 0) free_.push_back(next.block);
      done_.notify_all();
    }
  }

  platform::File& file_;
  CMD5Checksum md5_;
  platform::Sha256 sha_;
  std::unique_ptr<std::uint8_t[]> blocks_[kBlockCount];
  int current_ = -1;  // the block being filled (the receiving thread's)
  std::size_t used_ = 0;

  std::mutex mutex_;
  std::condition_variable wake_;  // work for the lanes
  std::condition_variable done_;  // a block came back, or a lane failed
  std::deque<int> free_;
  int users_[kBlockCount] = {};  // the lanes a block still waits for
  Lane lanes_[kLanes];
  bool failed_ = false;
  bool stop_ = false;
  platform::Error error_;
};

// The most bytes a file in `folder` may hold now, `held` of them on the disk already: the
// caller's bound, and what the disk can give without its reserve. -1: no bound at all.
struct SizeBound {
  std::int64_t bytes = -1;
  std::wstring why;  // what a larger file would exceed, for t.log

  static SizeBound For(const std::wstring& folder, std::int64_t held, std::int64_t maxBytes) {
    SizeBound bound;
    if (maxBytes > 0) {
      bound.bytes = maxBytes;
      bound.why = L"the most this download takes";
    }
    std::int64_t available = 0, total = 0;
    if (platform::VolumeSpace(folder, &available, &total)) {
      const std::int64_t reserve = DiskReserve(total);
      const std::int64_t disk = held + (available > reserve ? available - reserve : 0);
      if (bound.bytes < 0 || disk < bound.bytes) {
        bound.bytes = disk;
        bound.why = L"what the disk can spare, keeping " + std::to_wstring(reserve) + L" bytes free";
      }
    }
    return bound;
  }

  bool Exceeded(std::int64_t size) const { return bytes >= 0 && size > bytes; }
  std::wstring Reason(std::int64_t size) const {
    return L"the file is larger than " + std::to_wstring(bytes) + L" bytes, " + why +
           (size >= 0 ? L" (" + std::to_wstring(size) + L" announced)" : std::wstring());
  }
};

// One response into the file: what it was, and the body through the writer.
class FileReceiver : public platform::HttpSink {
 public:
  enum class Outcome {
    kNone,          // no head (the request failed before it)
    kBody,          // the body went to the file
    kBadStatus,     // an answer that is no body of this file
    kRestart,       // a range answer that does not continue the bytes on disk
    kAlreadyWhole,  // nothing left to send: the bytes on disk are the whole file
    kFileError,     // the file could not be started again
    kTooLarge,      // the file would break its size bound
  };

  FileReceiver(HashingWriter& writer, platform::File& file, std::int64_t held, std::int64_t rangeStart,
               const std::wstring& url, const DownloadOptions& options, SizeBound bound)
      : writer_(writer), file_(file), held_(held), rangeStart_(rangeStart), url_(url),
        progress_(options.onProgress), limit_(options.maxLength), bound_(std::move(bound)) {}

  bool Begin(const platform::HttpResponseHead& head) override {
    status_ = head.status;
    // What the answer says the whole file holds: more than may be taken is refused before
    // a byte of it is written.
    std::int64_t announced = head.status == 200 ? head.contentLength : head.status == 206 ? head.rangeTotal : -1;
    if (bound_.Exceeded(announced)) {
      tooLarge_ = bound_.Reason(announced);
      return End(Outcome::kTooLarge);
    }
    if (rangeStart_ < 0) {
      if (head.status != 200) return End(Outcome::kBadStatus);
      total_ = head.contentLength;
    } else if (head.status == 200) {
      // The server sends the whole file instead of the rest: take it from its first byte.
      theLog.Write(L"restart download from 0: %s", url_);
      writer_.Restart();
      if (!file_.Resize(0, &error_)) return End(Outcome::kFileError);
      held_ = 0;
      total_ = head.contentLength;
    } else if (head.ResumesAt(rangeStart_)) {
      total_ = head.rangeTotal;
    } else if (head.status == 416 && head.rangeTotal >= 0 && head.rangeTotal == rangeStart_) {
      total_ = head.rangeTotal;
      return End(Outcome::kAlreadyWhole);
    } else if (head.status == 206 || head.status == 416) {
      return End(Outcome::kRestart);
    } else {
      return End(Outcome::kBadStatus);
    }
    outcome_ = Outcome::kBody;
    if (limit_ >= 0) total_ = limit_;
    if (progress_) progress_(held_, total_);
    return true;
  }

  bool Append(const void* data, std::size_t size, platform::Error* err) override {
    if (limit_ >= 0 && static_cast<std::int64_t>(size) > limit_ - held_) {
      // Not a byte past the length the file may have: an endless body fills no disk.
      std::size_t keep = static_cast<std::size_t>(limit_ - held_);
      if (keep > 0 && !writer_.Write(data, keep, err)) return false;
      held_ += static_cast<std::int64_t>(keep);
      reachedLimit_ = true;
      return platform::SetFailure(err, L"the body is longer than " + std::to_wstring(limit_) + L" bytes");
    }
    if (bound_.Exceeded(held_ + static_cast<std::int64_t>(size))) {
      tooLarge_ = bound_.Reason(-1);
      outcome_ = Outcome::kTooLarge;
      return platform::SetFailure(err, tooLarge_);
    }
    if (!writer_.Write(data, size, err)) return false;
    held_ += static_cast<std::int64_t>(size);
    if (progress_) progress_(held_, total_);
    return true;
  }

  Outcome Result() const { return outcome_; }
  unsigned Status() const { return status_; }
  std::int64_t Held() const { return held_; }
  std::int64_t Total() const { return total_; }
  // The body went past the bound: the file holds its first maxLength bytes.
  bool ReachedLimit() const { return reachedLimit_; }
  const platform::Error& FileError() const { return error_; }
  const std::wstring& TooLargeReason() const { return tooLarge_; }

 private:
  bool End(Outcome outcome) {
    outcome_ = outcome;
    return false;
  }

  HashingWriter& writer_;
  platform::File& file_;
  std::int64_t held_;
  std::int64_t rangeStart_;
  const std::wstring& url_;
  const DownloadProgress& progress_;
  std::int64_t limit_;
  bool reachedLimit_ = false;
  Outcome outcome_ = Outcome::kNone;
  unsigned status_ = 0;
  std::int64_t total_ = -1;
  platform::Error error_;
  SizeBound bound_;
  std::wstring tooLarge_;
};

// One request into the file through the writer, from `held` bytes on (0: the whole file).
// True when the body is complete in the file (or, kAlreadyWhole, was already); the
// receiver says what the answer was.
bool Request(const std::wstring& url, const DownloadOptions& options, HashingWriter& writer, platform::File& file,
             std::int64_t held, FileReceiver& receiver) {
  theLog.Write(L"start get url: %s", url);
  if (held > 0) theLog.Write(L"resume download from %d: %s", held, url);
  platform::HttpOptions http = options.http;
  http.rangeStart = held > 0 ? held : -1;
  platform::Error err;
  bool ok = platform::HttpGet(url, receiver, &err, http);
  // What arrived stays in the file even when the transfer broke off.
  platform::Error drained;
  bool written = writer.Drain(&drained);
  if (!ok && !receiver.ReachedLimit()) {
    LogException(err);
    return false;
  }
  if (receiver.Result() == FileReceiver::Outcome::kTooLarge) {
    LogException({0, receiver.TooLargeReason()});
    return false;
  }
  if (!ok) LogException(err);  // stopped at the signed length; what it holds is judged as the file
  if (!written) {
    LogException(drained);
    return false;
  }
  switch (receiver.Result()) {
    case FileReceiver::Outcome::kBody:
    case FileReceiver::Outcome::kAlreadyWhole:
      break;
    case FileReceiver::Outcome::kRestart:
    case FileReceiver::Outcome::kTooLarge:
      return false;
    case FileReceiver::Outcome::kFileError:
      LogException(receiver.FileError());
      return false;
    case FileReceiver::Outcome::kNone:
    case FileReceiver::Outcome::kBadStatus:
      theLog.Write(L"invalid http statue: %d from:%s", receiver.Status(), url);
      return false;
  }
  // A client that cannot tell a cut body from a whole one (a chunked body under WinINet).
  if (!receiver.ReachedLimit() && receiver.Total() >= 0 && receiver.Held() != receiver.Total()) {
    LogException({0, L"the body ended after " + std::to_wstring(receiver.Held()) + L" of " +
                         std::to_wstring(receiver.Total()) + L" bytes"});
    return false;
  }
  if (!file.FlushToDisk(&err)) {
    LogException(err);
    return false;
  }
  theLog.Write(L"http complete, len = %d", receiver.Held());
  return true;
}

DownloadedFile Downloaded(const std::wstring& path, std::int64_t length, HashingWriter& writer) {
  DownloadedFile file;
  file.path = path;
  file.length = length;
  writer.Finish(&file.md5, &file.sha256, &file.sha256Ok);
  return file;
}

bool Verified(const DownloadOptions& options, const DownloadedFile& file) {
  return !options.verify || options.verify(file);
}

// One whole-file attempt into a fresh temporary file beside `target`. *overBound: the
// file broke its size bound, and no further attempt may be made.
std::optional<DownloadedFile> AttemptBeside(const std::wstring& url, const std::wstring& target,
                                            const DownloadOptions& options, bool* overBound) {
  std::wstring temp = platform::UniqueSiblingName(target, L"part");
  std::optional<DownloadedFile> result;
  {
    platform::File file;
    platform::Error err;
    if (!file.Open(temp, platform::OpenMode::kCreateNewExclusive, &err)) {
      LogException(err);
      return std::nullopt;
    }
    HashingWriter writer(file);
    FileReceiver receiver(writer, file, 0, -1, url, options,
                          SizeBound::For(platform::FolderOf(temp), 0, options.maxBytes));
    if (Request(url, options, writer, file, 0, receiver)) result = Downloaded(temp, receiver.Held(), writer);
    *overBound = receiver.Result() == FileReceiver::Outcome::kTooLarge;
  }
  if (result && !Verified(options, *result)) result.reset();
  if (!result) platform::RemoveFile(temp);
  return result;
}

// One attempt that continues the partial file. *unopened: the partial file could not be
// opened (another process continues it, or it cannot be made at all). *overBound: the
// file broke its size bound; its bytes are dropped and no further attempt may be made.
std::optional<DownloadedFile> AttemptResumable(const std::wstring& url, const std::wstring& partialPath,
                                               const DownloadOptions& options, bool* unopened, bool* overBound) {
  platform::File file;
  platform::Error err;
  if (!file.Open(partialPath, platform::OpenMode::kReadWriteKeepLocked, &err)) {
    LogException(err);
    *unopened = true;
    return std::nullopt;
  }
  std::optional<DownloadedFile> result;
  {
    HashingWriter writer(file);
    std::int64_t held = writer.AbsorbFile(&err);
    if (held < 0) {
      LogException(err);
      writer.Restart();
      if (!file.Resize(0, &err)) {
        LogException(err);
        return std::nullopt;
      }
      held = 0;
    }
    if (options.maxLength >= 0 && held > options.maxLength) {
      // More bytes than the file may have: they are of something else.
      writer.Restart();
      if (!file.Resize(0, &err)) {
        LogException(err);
        return std::nullopt;
      }
      held = 0;
    }
    auto dropBytes = [&] {
      writer.Restart();
      held = 0;
      return file.Resize(0, &err);
    };
    auto startOver = [&] {
      theLog.Write(L"restart download from 0: %s", url);
      return dropBytes();
    };
    // A second request only when the first showed that the bytes on disk lead nowhere.
    for (int request = 0; request < 2 && !result; ++request) {
      FileReceiver receiver(writer, file, held, held > 0 ? held : -1, url, options,
                            SizeBound::For(platform::FolderOf(partialPath), held, options.maxBytes));
      bool complete = Request(url, options, writer, file, held, receiver);
      held = receiver.Held();
      if (receiver.Result() == FileReceiver::Outcome::kTooLarge) {
        *overBound = true;
        if (!dropBytes()) LogException(err);
        break;
      }
      if (!complete) {
        if (receiver.Result() != FileReceiver::Outcome::kRestart || request > 0) break;
        if (startOver()) continue;
        LogException(err);
        break;
      }
      DownloadedFile candidate = Downloaded(partialPath, held, writer);
      if (Verified(options, candidate)) {
        result = candidate;
        break;
      }
      // Wrong bytes do not become right by going on: the next try starts from nothing. Bytes
      // that were all on disk already cost no download yet: this attempt fetches them anew.
      bool wasOnDisk = receiver.Result() == FileReceiver::Outcome::kAlreadyWhole && request == 0;
      if (!(wasOnDisk ? startOver() : dropBytes())) {
        LogException(err);
        break;
      }
      if (!wasOnDisk) break;
    }
  }
  // Nothing to go on from: no empty file stays behind for later runs.
  if (!result && file.Length() == 0) {
    file.Close();
    platform::RemoveFile(partialPath);
  }
  return result;
}

}  // namespace

std::optional<DownloadedFile> DownloadBeside(const std::wstring& url, const std::wstring& target,
                                             const DownloadOptions& options) {
  // What killed runs left half-written beside the target goes first.
  platform::RemoveStaleSiblings(target, L"part");
  std::optional<DownloadedFile> result;
  bool overBound = false;
  base::Retry([&] { return (result = AttemptBeside(url, target, options, &overBound)).has_value() || overBound; },
              options.attempts);
  return result;
}

std::optional<DownloadedFile> DownloadResumable(const std::wstring& url, const std::wstring& partialPath,
                                                const DownloadOptions& options) {
  platform::RemoveStaleSiblings(partialPath, L"part");
  std::optional<DownloadedFile> result;
  bool unopened = false;
  bool overBound = false;
  base::Retry(
      [&] {
        if (!unopened) {
          result = AttemptResumable(url, partialPath, options, &unopened, &overBound);
          if (result || !unopened) return result.has_value() || overBound;
        }
        // Another launcher continues the partial file: this one fetches a copy of its own.
        result = AttemptBeside(url, partialPath, options, &overBound);
        return result.has_value() || overBound;
      },
      options.attempts);
  return result;
}

std::int64_t DiskReserve(std::int64_t volumeBytes) {
  constexpr std::int64_t kMost = std::int64_t{256} * 1024 * 1024;
  std::int64_t share = volumeBytes / 20;
  return share < kMost ? share : kMost;
}

bool PutInPlace(const DownloadedFile& file, const std::wstring& target, platform::Error* err) {
  // Half-written copies that killed runs of the launcher's in-memory writes left beside it.
  platform::RemoveStaleSiblings(target, L"part");
  return platform::RenameOver(file.path, target, err);
}

void Discard(const DownloadedFile& file) { platform::RemoveFile(file.path); }
