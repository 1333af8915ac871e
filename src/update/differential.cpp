#include "update/differential.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "base/text.h"
#include "branding.h"
#include "diagnostics/log.h"
#include "platform/http.h"
#include "update/block_index.h"
#include "update/byte_ranges.h"
#include "update/fetch_buffer.h"
#include "update/md5_checksum.h"
#include "update/package.h"

namespace {

using base::Failure;
using base::MakeFailure;
using block_index::Piece;
using block_index::PieceKind;
using byte_ranges::Range;

constexpr std::size_t kCopyBuffer = 256 * 1024;
// Missing ranges closer than this are fetched as one: the head of a part of a multipart
// answer ("--boundary", Content-Type, Content-Range) is about as long.
constexpr std::uint64_t kJoinGap = 128;
// Ranges asked for in one request: well within the request-header limits of common servers
// (8 KiB) and below the number some refuse (Apache's MaxRanges, 200).
constexpr std::size_t kRangesPerRequest = 64;
// A server that answers only the first range of each request gets the rest joined into
// this many requests at most.
constexpr std::size_t kSingleRangeRequests = 16;

Failure Fail(Failure::Kind kind, const std::wstring& reason, std::uint32_t code = 0) {
  return MakeFailure(kind, reason, code);
}
Failure SystemFailure(const platform::Error& err) { return Fail(Failure::Kind::kSystem, err.message, err.code); }

// The old jar's pieces by kind and hash: a sorted table, looked up by binary search.
class OldPieces {
 public:
  explicit OldPieces(const std::vector<Piece>& pieces) {
    rows_.reserve(pieces.size());
    for (const Piece& piece : pieces) rows_.push_back({piece.hash, piece.length, piece.offset, piece.kind});
    std::sort(rows_.begin(), rows_.end(), Less);
  }

  // Where the old jar holds the piece's bytes (but for the fields its hash leaves out); -1
  // when it does not.
  std::int64_t Find(const Piece& piece) const {
    Row key{piece.hash, piece.length, 0, piece.kind};
    auto it = std::lower_bound(rows_.begin(), rows_.end(), key, Less);
    if (it == rows_.end() || it->kind != key.kind || it->hash != key.hash || it->length != key.length) return -1;
    return static_cast<std::int64_t>(it->offset);
  }

 private:
  struct Row {
    std::uint64_t hash;
    std::uint64_t length;
    std::uint64_t offset;
    PieceKind kind;
  };
  static bool Less(const Row& a, const Row& b) {
    if (a.kind != b.kind) return a.kind < b.kind;
    if (a.hash != b.hash) return a.hash < b.hash;
    return a.length < b.length;
  }
  std::vector<Row> rows_;
};

// Writes the new package into its partial file front to back, hashing it on the way: local
// pieces copied from the old jar (their hidden fields put in), fetched bytes as they come.
class Builder {
 public:
  Builder(platform::File& out, platform::File& old, std::uint8_t key, const block_index::Index& index,
          const std::vector<std::int64_t>& sources)
      : out_(out), old_(old), key_(key), index_(index), sources_(sources), buffer_(new std::uint8_t[kCopyBuffer]) {}

  std::uint64_t Cursor() const { return cursor_; }
  std::uint64_t Reused() const { return reused_; }
  std::uint64_t Fetched() const { return fetched_; }

  // Takes the first `held` bytes that the partial file holds into the hashes: the package
  // goes on after them.
  base::Status Continue(std::uint64_t held) {
    platform::Error err;
    if (!out_.Seek(0, &err)) return SystemFailure(err);
    while (cursor_ < held) {
      std::size_t got = 0;
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kCopyBuffer, held - cursor_));
      if (!out_.Read(buffer_.get(), want, &got, &err)) return SystemFailure(err);
      if (got == 0) return Fail(Failure::Kind::kSystem, L"the partial package ended early");
      md5_.Absorb(buffer_.get(), got);
      sha_.Update(buffer_.get(), got);
      cursor_ += got;
    }
    if (!out_.Resize(static_cast<std::int64_t>(held), &err)) return SystemFailure(err);
    return {};
  }

  // Copies the old jar's pieces up to `target`; fails when a piece to be fetched lies
  // before it (a server that left out a range asked for).
  base::Status CopyUntil(std::uint64_t target) {
    while (cursor_ < target) {
      const std::size_t at = PieceAt(cursor_);
      const Piece& piece = index_.pieces[at];
      if (sources_[at] < 0) return Fail(Failure::Kind::kNetwork, L"the server left out a range asked for");
      const std::uint64_t into = cursor_ - piece.offset;
      const std::uint64_t end = std::min(target, piece.offset + piece.length);
      platform::Error err;
      if (!old_.Seek(sources_[at] + static_cast<std::int64_t>(into), &err)) return SystemFailure(err);
      for (std::uint64_t done = into; cursor_ < end;) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kCopyBuffer, end - cursor_));
        std::size_t got = 0;
        if (!old_.Read(buffer_.get(), want, &got, &err)) return SystemFailure(err);
        if (got == 0) return Fail(Failure::Kind::kSystem, L"the jar ended early");
        // The piece's own times and offsets in place of the old one's.
        for (std::size_t i = 0; i < got; ++i) buffer_[i] ^= key_;
        block_index::PutHiddenFields(piece, done, buffer_.get(), got);
        for (std::size_t i = 0; i < got; ++i) buffer_[i] ^= key_;
        if (base::Status written = Emit(buffer_.get(), got); !written) return written;
        reused_ += got;
        done += got;
      }
    }
    return {};
  }

  // Fetched bytes that belong at the cursor.
  base::Status Take(const std::uint8_t* data, std::size_t size) {
    if (base::Status written = Emit(data, size); !written) return written;
    fetched_ += size;
    return {};
  }

  // The whole package, flushed, with its digests.
  base::Result<DownloadedFile> Finish(const std::wstring& path) {
    platform::Error err;
    if (!out_.FlushToDisk(&err)) return SystemFailure(err);
    DownloadedFile file;
    file.path = path;
    file.length = static_cast<std::int64_t>(cursor_);
    file.md5 = md5_.Finish();
    file.sha256Ok = sha_.Ok();
    file.sha256 = sha_.Finish();
    return file;
  }

 private:
  base::Status Emit(const std::uint8_t* data, std::size_t size) {
    platform::Error err;
    if (!out_.Write(data, size, &err)) return SystemFailure(err);
    md5_.Absorb(data, size);
    sha_.Update(data, size);
    cursor_ += size;
    return {};
  }

  // The piece that holds the byte at `offset` (the pieces tile the package).
  std::size_t PieceAt(std::uint64_t offset) const {
    auto it = std::upper_bound(index_.pieces.begin(), index_.pieces.end(), offset,
                               [](std::uint64_t value, const Piece& piece) { return value < piece.offset; });
    return static_cast<std::size_t>(it - index_.pieces.begin()) - 1;
  }

  platform::File& out_;
  platform::File& old_;
  const std::uint8_t key_;
  const block_index::Index& index_;
  const std::vector<std::int64_t>& sources_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  CMD5Checksum md5_;
  platform::Sha256 sha_;
  std::uint64_t cursor_ = 0;
  std::uint64_t reused_ = 0;
  std::uint64_t fetched_ = 0;
};

// One answer to a Range request into the builder: a 206 with one range, or with a
// multipart/byteranges body of several. Bytes before the builder's cursor (a range the
// server sent twice or joined with one sent before) are passed over; the local pieces
// between two parts are copied as each part begins.
class RangeReceiver : public platform::HttpSink, private byte_ranges::MultipartReader::Handler {
 public:
  // At most `limit` bytes of body: a server that joins ranges may send up to the whole
  // package, but none sends more than that and the parts' heads, whatever it repeats.
  RangeReceiver(Builder& builder, std::uint64_t packageLength, std::uint64_t limit, const DownloadProgress& progress,
                std::uint64_t progressTotal)
      : builder_(builder), packageLength_(packageLength), limit_(limit), progress_(progress),
        progressTotal_(progressTotal) {}

  bool Begin(const platform::HttpResponseHead& head) override {
    status_ = head.status;
    if (head.status != 206) return false;
    if (std::optional<std::string> boundary = byte_ranges::MultipartBoundary(head.contentType)) {
      multipart_.emplace(*boundary, static_cast<byte_ranges::MultipartReader::Handler&>(*this));
      return true;
    }
    if (head.rangeStart < 0 || head.rangeEnd < head.rangeStart)
      return Stop(Fail(Failure::Kind::kNetwork, L"a 206 answer without its Content-Range"));
    single_ = true;
    return OnRange(static_cast<std::uint64_t>(head.rangeStart), static_cast<std::uint64_t>(head.rangeEnd) + 1,
                  head.rangeTotal);
  }

  bool Append(const void* data, std::size_t size, platform::Error* err) override {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    received_ += size;
    bool ok = received_ <= limit_ ? (multipart_ ? multipart_->Feed(bytes, size) : OnData(bytes, size))
                                  : Stop(Fail(Failure::Kind::kNetwork, L"an answer longer than the package"));
    if (ok) return true;
    if (!failure_ && multipart_) failure_ = Fail(Failure::Kind::kNetwork, L"multipart answer: " + multipart_->Error());
    platform::SetFailure(err, failure_->reason, failure_->code);
    return false;
  }

  unsigned Status() const { return status_; }
  std::uint64_t Received() const { return received_; }
  // Whether the answer held several parts or one (a server that answers one range only).
  bool Multipart() const { return multipart_.has_value(); }
  const std::optional<Failure>& Stopped() const { return failure_; }
  // After a transfer that ended well: whether the body was whole.
  bool Complete() const {
    if (multipart_) return multipart_->Finished();
    return single_ && partAt_ == partEnd_;
  }

 private:
  bool Stop(Failure failure) {
    failure_ = std::move(failure);
    return false;
  }

  bool OnRange(std::uint64_t start, std::uint64_t end, std::int64_t total) override {
    if (total >= 0 && static_cast<std::uint64_t>(total) != packageLength_)
      return Stop(Fail(Failure::Kind::kInvalid, L"the package changed: " + std::to_wstring(total) + L" bytes, not " +
                                                    std::to_wstring(packageLength_)));
    if (end > packageLength_) return Stop(Fail(Failure::Kind::kInvalid, L"a range past the package's end"));
    if (start > builder_.Cursor()) {
      if (base::Status copied = builder_.CopyUntil(start); !copied) return Stop(copied.TakeFailure());
    }
    partAt_ = start;
    partEnd_ = end;
    return true;
  }

  bool OnData(const std::uint8_t* data, std::size_t size) override {
    if (size > partEnd_ - partAt_) return Stop(Fail(Failure::Kind::kNetwork, L"more bytes than the range holds"));
    const std::uint64_t at = partAt_;
    partAt_ += size;
    const std::uint64_t cursor = builder_.Cursor();
    if (partAt_ <= cursor) return true;  // bytes the package has already
    if (at > cursor) return Stop(Fail(Failure::Kind::kNetwork, L"a gap in the package"));
    const std::size_t skip = static_cast<std::size_t>(cursor - at);
    if (base::Status taken = builder_.Take(data + skip, size - skip); !taken) return Stop(taken.TakeFailure());
    if (progress_) progress_(static_cast<std::int64_t>(builder_.Fetched()), static_cast<std::int64_t>(progressTotal_));
    return true;
  }

  Builder& builder_;
  const std::uint64_t packageLength_;
  const std::uint64_t limit_;
  const DownloadProgress& progress_;
  const std::uint64_t progressTotal_;
  std::optional<byte_ranges::MultipartReader> multipart_;
  bool single_ = false;
  std::uint64_t partAt_ = 0, partEnd_ = 0;
  unsigned status_ = 0;
  std::uint64_t received_ = 0;
  std::optional<Failure> failure_;
};

// The missing ranges that lie after `cursor`, the first one cut to start there.
std::vector<Range> Pending(const std::vector<Range>& ranges, std::uint64_t cursor) {
  std::vector<Range> pending;
  for (const Range& range : ranges) {
    if (range.end <= cursor) continue;
    pending.push_back({std::max(range.start, cursor), range.end});
  }
  return pending;
}

std::uint64_t TotalLength(const std::vector<Range>& ranges) {
  std::uint64_t total = 0;
  for (const Range& range : ranges) total += range.Length();
  return total;
}

// Fetches the missing ranges into the builder and copies the rest: the whole package
// from the builder's cursor on.
base::Status FetchMissing(const DifferentialRequest& request, Builder& builder, std::vector<Range> missing,
                          std::uint64_t packageLength) {
  const std::uint64_t toFetch = TotalLength(missing);
  if (request.onProgress) request.onProgress(0, static_cast<std::int64_t>(toFetch));
  std::size_t perRequest = kRangesPerRequest;
  // Each request must bring the missing bytes down; a bound on the requests all the same.
  for (int requests = 0;; ++requests) {
    std::vector<Range> pending = Pending(missing, builder.Cursor());
    if (pending.empty()) break;
    if (requests > static_cast<int>(missing.size() / kRangesPerRequest + kSingleRangeRequests + 2))
      return Fail(Failure::Kind::kNetwork, L"too many range requests");
    const std::size_t count = std::min(pending.size(), perRequest);
    platform::HttpOptions http;
    http.ranges = byte_ranges::RangeSetText(pending.data(), count);
    theLog.Write(L"start get url: %s", request.packageUrl);
    RangeReceiver receiver(builder, packageLength, packageLength + 64 * 1024 + count * 1024, request.onProgress,
                           toFetch);
    platform::Error err;
    const std::uint64_t before = TotalLength(pending);
    const bool ok = platform::HttpGet(request.packageUrl, receiver, &err, http);
    if (receiver.Stopped()) return *receiver.Stopped();
    if (!ok) return Fail(Failure::Kind::kNetwork, err.message, err.code);
    if (receiver.Status() == 200) return Fail(Failure::Kind::kNetwork, L"the server ignores Range requests");
    if (receiver.Status() != 206)
      return Fail(Failure::Kind::kNetwork, L"http status " + std::to_wstring(receiver.Status()) + L" to a Range request");
    if (!receiver.Complete()) return Fail(Failure::Kind::kNetwork, L"the answer ended early");
    theLog.Write(L"http complete, len = %d", receiver.Received());
    if (TotalLength(Pending(missing, builder.Cursor())) >= before)
      return Fail(Failure::Kind::kNetwork, L"the answer held none of the ranges asked for");
    if (!receiver.Multipart() && count > 1 && perRequest > 1) {
      // One range per answer: the rest in a few requests, each for one joined range.
      perRequest = 1;
      missing = byte_ranges::CoalesceTo(Pending(missing, builder.Cursor()), kSingleRangeRequests);
    }
  }
  return builder.CopyUntil(packageLength);
}

}  // namespace

base::Result<DifferentialOutcome> BuildPackageDifferentially(const DifferentialRequest& request) {
  platform::Error err;
  // The old jar's pieces first: a jar that is no whole archive costs no request.
  platform::File old;
  if (!old.Open(request.oldJar, platform::OpenMode::kReadShared, &err)) return SystemFailure(err);
  std::optional<OldPieces> oldPieces;
  {
    base::Result<std::vector<Piece>> laidOut = block_index::LayoutPackage(old, request.jarKey);
    if (!laidOut) {
      Failure failure = laidOut.TakeFailure();
      failure.reason = L"the jar: " + failure.reason;
      return failure;
    }
    oldPieces.emplace(*laidOut);
  }

  platform::File out;
  if (!out.Open(request.partialPath, platform::OpenMode::kReadWriteKeepLocked, &err)) {
    Failure failure = SystemFailure(err);
    failure.kind = Failure::Kind::kBusy;
    return failure;
  }
  // Nothing to go on from: no empty file stays behind for later runs.
  struct RemoveIfEmpty {
    platform::File& file;
    const std::wstring& path;
    ~RemoveIfEmpty() {
      if (file.IsOpen() && file.Length() == 0) {
        file.Close();
        platform::RemoveFile(path);
      }
    }
  } removeIfEmpty{out, request.partialPath};

  std::optional<block_index::Index> index;
  {
    FetchBuffer fetched;
    fetched.maxLength = block_index::kMaxIndexBytes;
    if (!fetched.FetchOnce(request.indexUrl)) return Fail(Failure::Kind::kNetwork, L"no index");
    base::Result<block_index::Index> decoded = block_index::Decode(fetched.data.get(), fetched.length);
    if (!decoded) return decoded.TakeFailure();
    index.emplace(std::move(*decoded));
  }
  if (index->md5 != base::WideToUtf8(request.md5))
    return Fail(Failure::Kind::kInvalid, L"the index is of another package");

  std::vector<std::int64_t> sources;
  sources.reserve(index->pieces.size());
  for (const Piece& piece : index->pieces) sources.push_back(oldPieces->Find(piece));
  oldPieces.reset();

  const std::int64_t length = out.Length();
  if (length < 0) return Fail(Failure::Kind::kSystem, L"cannot read the partial package");
  // Bytes beyond the package's end are of no version of it.
  const std::uint64_t held = std::min<std::uint64_t>(static_cast<std::uint64_t>(length), index->packageLength);
  Builder builder(out, old, request.jarKey, *index, sources);
  if (base::Status continued = builder.Continue(held); !continued) return continued.TakeFailure();

  std::vector<Range> missing;
  for (std::size_t i = 0; i < index->pieces.size(); ++i) {
    const Piece& piece = index->pieces[i];
    if (sources[i] < 0 && piece.offset + piece.length > held)
      missing.push_back({std::max(piece.offset, held), piece.offset + piece.length});
  }
  if (base::Status built = FetchMissing(request, builder, byte_ranges::Coalesce(missing, kJoinGap),
                                        index->packageLength);
      !built)
    return built.TakeFailure();

  base::Result<DownloadedFile> file = builder.Finish(request.partialPath);
  if (!file) return file.TakeFailure();
  if (file->md5 != request.md5) {
    // Bytes that hash wrong do not become right by going on: the full download starts
    // from nothing.
    out.Resize(0);
    return Fail(Failure::Kind::kInvalid, L"md5 " + file->md5 + L" of the built package");
  }
  return DifferentialOutcome{*file, builder.Reused(), builder.Fetched(), held};
}

std::optional<DownloadedFile> FetchPackageDifferentially(const std::wstring& oldJar, const std::wstring& packageUrl,
                                                         const std::wstring& workingFolder, const std::wstring& md5,
                                                         const DownloadProgress& onProgress) {
  DifferentialRequest request;
  request.oldJar = oldJar;
  request.packageUrl = packageUrl;
  request.indexUrl = packageUrl + L".idx";
  request.partialPath = PartialPackagePath(workingFolder, md5);
  request.md5 = md5;
  request.jarKey = branding::kJarKey;
  request.onProgress = onProgress;
  base::Result<DifferentialOutcome> outcome = BuildPackageDifferentially(request);
  if (!outcome) {
    theLog.Write(L"differential update failed: %s", outcome.failure().reason);
    return std::nullopt;
  }
  if (outcome->kept > 0) theLog.Write(L"differential update went on from %d bytes", outcome->kept);
  theLog.Write(L"differential update: %d bytes reused, %d bytes fetched", outcome->reused, outcome->fetched);
  return outcome->file;
}
