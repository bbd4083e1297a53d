// Report buffers: appends under a lock with large writes, per-worker row
// batches, and the .segments line.
#include "ibd/output_buffer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ibd/analysis_driver.h"
#include "ibd/pair_scan.h"
#include "input/genotype_store.h"

Mutex::Mutex() {
  if (pthread_mutex_init(&mutex, nullptr) != 0) {
    fwrite("Mutex init failed\n", 1, 18, stderr);
    exit(1);
  }
}

bool write_fully(int fd, const char* data, int64_t n) {
  // One call even for n == 0, so an empty flush still reaches the descriptor.
  do {
    ssize_t written = write(fd, data, static_cast<size_t>(n));
    if (written < 0) {
      if (errno == EINTR) continue;
      perror("write");
      final_exit_status.store(1, std::memory_order_release);
      return false;
    }
    if (written == 0 && n > 0) {
      // No progress and no error: give up rather than spin.
      errno = EIO;
      perror("write");
      final_exit_status.store(1, std::memory_order_release);
      return false;
    }
    data += written;
    n -= written;
  } while (n > 0);
  return true;
}

void OutputBuffer::append(const char* text) {
  const int64_t n = static_cast<int64_t>(strlen(text));
  pthread_mutex_lock(&lock.mutex);
  if (length + n + 1 > kOutputBufferSize) {
    // No room behind the held text: write it out first, and send a text that
    // is larger than the whole buffer straight to the file, keeping the order.
    if (length > 0) write_fully(fd, data, length);
    length = 0;
    if (n + 1 > kOutputBufferSize) {
      write_fully(fd, text, n);
      pthread_mutex_unlock(&lock.mutex);
      return;
    }
  }
  memcpy(data + length, text, static_cast<size_t>(n) + 1);
  length += static_cast<int32_t>(n);
  if (length > kOutputFlushAt) {
    write_fully(fd, data, length);
    length = 0;
  }
  pthread_mutex_unlock(&lock.mutex);
}

void OutputBuffer::flush() {
  write_fully(fd, data, length);
  length = 0;
}

namespace {

// Formats into a fresh heap block sized by the formatter; the caller frees it.
char* format_on_heap(int32_t n, const char* format, va_list args) {
  char* text = static_cast<char*>(malloc(static_cast<size_t>(n) + 1));
  if (!text) fail_allocation(static_cast<int64_t>(n) + 1);
  vsnprintf(text, static_cast<size_t>(n) + 1, format, args);
  return text;
}

const VariantRecord kNoVariant{0, ""};

// The record of variant index, clamped to the retained variants: a segment
// found with a tiny threshold can start before the first or end after the last.
const VariantRecord& record_clamped(int32_t index) {
  const int32_t last = std::min(GenotypeMatrix::nvars, variant_records.count) - 1;
  if (last < 0 || !variant_records.data) return kNoVariant;
  return variant_records.data[std::clamp(index, 0, last)];
}

// Name of chromosome k (from 1): the CHROM of its first variant.
const char* chromosome_name(int32_t k, int32_t start) {
  const int32_t entries = static_cast<int32_t>(ChromosomeTable::cumulative.size());
  if (k < 1 || k >= ChromosomeTable::count || k - 1 >= entries) {
    return record_clamped(start).chrom;  // no chromosome scan in progress
  }
  return record_clamped(ChromosomeTable::cumulative[k - 1]).chrom;
}

}  // namespace

void RowBuffer::add_row(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int32_t room = kRowBufferSize - length;
  const int n = vsnprintf(data + length, static_cast<size_t>(room), format, args);
  va_end(args);
  if (n < 0) {
    data[length] = '\0';
  } else if (n < room) {
    length += n;
  } else {
    // The row does not fit behind the held rows: cut nothing, move the held
    // rows out first; a row larger than the whole buffer goes straight on.
    data[length] = '\0';
    drain();
    if (n < kRowBufferSize) {
      vsnprintf(data, kRowBufferSize, format, again);
      length = n;
    } else {
      char* text = format_on_heap(n, format, again);
      target->append(text);
      free(text);
    }
  }
  va_end(again);
  if (length > kRowDrainAt) drain();
}

void RowBuffer::drain() {
  if (length == 0) return;
  target->append(data);
  length = 0;
}

void write_segment(PairScanContext* context, int32_t type, int32_t a, int32_t b, int32_t start,
                   int32_t end) {
  const VariantRecord& first = record_clamped(start);
  const VariantRecord& last = record_clamped(end);
  // The length is an int32 difference; formed in 64 bits so it cannot overflow.
  const int32_t length_bp = static_cast<int32_t>(static_cast<int64_t>(last.pos) - first.pos);
  const int32_t nmarkers = static_cast<int32_t>(static_cast<int64_t>(end) - start + 1);
  context->segment_buffer->add_row(
      "IBD%d  %15s %15s %6s %9d %8d        %9.4f Mbp   %9.4f Mbp  %10d\n", type,
      SampleNames::names[a], SampleNames::names[b], chromosome_name(context->chromosome, start),
      start, end, first.pos * 1e-6, length_bp * 1e-6, nmarkers);
}
