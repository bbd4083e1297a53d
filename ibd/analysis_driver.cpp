// The analysis driver: drives the whole analysis from the main thread, from
// the creation of the report files to their last write.
#include "ibd/analysis_driver.h"
#include "setup/run_messages.h"

#include <fcntl.h>
#include <htslib/bgzf.h>
#include <pthread.h>
#include <semaphore.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "ibd/ibs_thresholds.h"
#include "ibd/output_buffer.h"
#include "ibd/pair_worker.h"
#include "ibd/transposed_matrix.h"
#include "input/genotype_store.h"
#include "input/line_queue.h"
#include "input/thread_slots.h"
#include "input/vcf_reader.h"
#include "setup/run_settings.h"

std::atomic<int32_t> final_exit_status{0};

namespace {

constexpr const char* kPhase = "[*] ";
constexpr char kReadError[] = "\nError while reading input file: Corrupted VCF file?\n";
static_assert(sizeof kReadError - 1 == 53);
constexpr double kMbPerByte = 9.5367431640625e-07;  // 1 / 1048576
constexpr int32_t kFirstSequence = 10;               // incremented before use: first block 11
constexpr int32_t kProgressBlocks = 5000;            // in block sequence numbers
constexpr int32_t kDecompressionThreads = 8;
constexpr int32_t kBlocksPerDecompressionJob = 64;
constexpr auto kDonePoll = std::chrono::microseconds(200);

// Kept until the process ends: the slots' threads and htslib's decompression
// threads outlive the driver, and nothing is closed or destroyed.
pthread_attr_t slot_thread_attributes[kThreadSlotCount];
// Volatile, so that the optimiser keeps the store that holds the handle (and
// leak checkers see it held) although nothing reads it back.
BGZF* volatile input_handle = nullptr;

[[noreturn]] void fail_reading() {
  fwrite(kReadError, 1, sizeof kReadError - 1, stdout);
  exit(1);
}

Job job_running(JobFunction fn) {
  Job job;
  job.fn = fn;
  return job;
}

// Gives every slot from 0 to thread_count - 1 its block memory and pipe,
// then starts its thread.
void start_thread_slots() {
  const int32_t block_size = RunSettings::buffer_size;
  for (int32_t i = 0; i < RunSettings::thread_count; ++i) {
    ThreadSlot& slot = thread_slots[i];
    Buffer_class& ring = slot.ring;
    // One spare block beyond the ring's capacity; sized in 64 bits.
    const int64_t bytes = static_cast<int64_t>(ring.capacity + 1) * block_size;
    auto* blocks = static_cast<uint8_t*>(malloc(static_cast<size_t>(bytes)));
    if (!blocks) {
      perror("malloc");
      exit(1);
    }
    for (int32_t k = 0; k < ring.capacity; ++k) {
      ring.entries[k].data = blocks + static_cast<int64_t>(k) * block_size;
    }
    slot.index = i;
    slot.done.store(0, std::memory_order_release);
    int fds[2];
    if (pipe(fds) != 0) {
      perror("pipe");
      exit(1);
    }
    slot.pipe_read_fd = fds[0];
    slot.pipe_write_fd = fds[1];
    slot.started = 0;
    pthread_attr_t* attributes = &slot_thread_attributes[i];
    pthread_attr_init(attributes);
    pthread_attr_setdetachstate(attributes, PTHREAD_CREATE_JOINABLE);
    const int rc = pthread_create(&slot.thread, attributes, worker_thread, &slot);
    if (rc != 0) {
      fprintf(stderr, "error: pthread_create, rc: %d\n", rc);
      exit(1);
    }
    // Never joined: detached at once, so that a thread that has ended when an
    // error ends the process (from any thread) is not left unreclaimed.
    pthread_detach(slot.thread);
  }
}

void print_progress(double volume_mb, const timeval& clock_start) {
  const double ms = elapsed_ms(clock_start);
  printf("%s    %10d variants read -  %10d variants kept - %7d MB - speed: %9.2f MB/sec \n",
         kDetail, variants_read.load(std::memory_order_acquire),
         variants_kept.load(std::memory_order_acquire), static_cast<int32_t>(volume_mb),
         volume_mb * 1000.0 / ms);
}

// The block loop: decompresses the input straight into slot 0's ring and
// posts one split job per block, then the end entry and its split job.
void read_input_blocks(BGZF* input, const timeval& clock_start) {
  Buffer_class& ring = thread_slots[0].ring;
  double volume_mb = 0.0;
  int32_t sequence = kFirstSequence;
  for (;;) {
    BlockEntry& entry = ring.entries[ring.reserve()];
    const int64_t n = read_input_block(input, entry.data, RunSettings::buffer_size);
    if (n < 0) fail_reading();
    if (n == 0) break;  // nothing committed; the end entry takes this position
    ++sequence;
    entry.length = static_cast<int32_t>(n);
    entry.sequence = sequence;
    volume_mb += static_cast<double>(n) * kMbPerByte;
    ring.commit();
    post_job(0, job_running(split_lines_job));
    if (sequence % kProgressBlocks == 0) print_progress(volume_mb, clock_start);
  }
  BlockEntry& end = ring.entries[ring.reserve()];
  end.sequence = -1;
  end.length = -1;
  ring.commit();
  post_job(0, job_running(split_lines_job));
}

void send_end_token(int32_t slot_index) {
  const int32_t token = kTokenEnd;
  ssize_t written;
  do {
    written = write(thread_slots[slot_index].pipe_write_fd, &token, sizeof token);
  } while (written < 0 && errno == EINTR);
  if (written < 0) perror("write");
}

// Slots 0 and 1 end themselves on the end token once their queued jobs have run.
void wait_for_reading_threads() {
  do {
    std::this_thread::sleep_for(kDonePoll);
  } while (thread_slots[0].done.load(std::memory_order_acquire) == 0 ||
           thread_slots[1].done.load(std::memory_order_acquire) == 0);
}

void append_header_lines() {
  char line[1024];
  format_ibd_header(line, sizeof line);
  ibd_output.append(line);
  format_segments_header(line, sizeof line);
  segments_output.append(line);
}

void run_pair_workers(int32_t workers) {
  for (int32_t w = 0; w < workers; ++w) {
    Job job = job_running(pair_job);
    job.worker_index = w;
    job.worker_count = workers;
    post_job(w + 2, job);
  }
  for (int32_t w = 0; w < workers; ++w) {
    // EINTR repeats the wait; any other failure counts as one finished worker.
    while (sem_wait(&pair_done_sem) != 0 && errno == EINTR) {
    }
  }
}

}  // namespace

double elapsed_ms(const timeval& start) {
  timeval now;
  gettimeofday(&now, nullptr);
  int64_t seconds = static_cast<int64_t>(now.tv_sec) - start.tv_sec;
  int64_t micros = static_cast<int64_t>(now.tv_usec) - start.tv_usec;
  if (micros < 0) {
    seconds -= 1;
    micros += 1000000;
  }
  return static_cast<double>(seconds) * 1000.0 + static_cast<double>(micros) * 0.001;
}

int64_t read_input_block(BGZF* input, uint8_t* block, int32_t size) {
  const ssize_t n = bgzf_read(input, block, static_cast<size_t>(size));
  if (n < 0) return -1;
  if (n == 0 && input->errcode != 0) return -1;
  return n;
}

int open_output_file(const char* suffix) {
  // Sized to fit: a fixed buffer would cut a long prefix and could give both
  // reports the same name.
  const std::string path = std::string(RunSettings::output_prefix) + suffix;
  unlink(path.c_str());  // replaces a read-only file or a symbolic link instead of following it
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0660);
  if (fd < 0) {
    perror("open");
    exit(2);
  }
  printf("%s Opening output file %s  \n", kDetail, path.c_str());
  return fd;
}

void run_analysis(const char* input_path) {
  printf("%s Input file name: %s\n", kDetail, input_path);
  PartialLine::allocate();
  ibd_output.length = 0;
  segments_output.length = 0;
  ibd_output.fd = open_output_file(".ibd");
  segments_output.fd = open_output_file(".segments");

  start_thread_slots();
  sem_init(&pair_done_sem, 0, 0);
  post_job(1, job_running(vcf_reader_job));

  timeval clock_start;
  gettimeofday(&clock_start, nullptr);
  BGZF* input = bgzf_open(input_path, "r");
  input_handle = input;
  if (!input) {
    printf("\nError: Cannot open input file: %s\n\n", input_path);
    exit(1);
  }
  if (RunSettings::thread_count > 1 &&
      bgzf_mt(input, kDecompressionThreads, kBlocksPerDecompressionJob) != 0) {
    fprintf(stderr, "%s : Error from bgzf_mt : %s\n", "err", strerror(errno));
    exit(1);
  }

  read_input_blocks(input, clock_start);
  send_end_token(0);
  send_end_token(1);
  wait_for_reading_threads();
  printf("\n%s Finished reading input files:  %.2f ms \n\n", kPhase, elapsed_ms(clock_start));

  const int32_t workers = RunSettings::pair_mode == 1 ? 1 : RunSettings::thread_count - 2;
  ibs_est();
  build_transposed_matrix(clock_start);
  append_header_lines();
  run_pair_workers(workers);

  ibd_output.flush();
  segments_output.flush();
  printf("\n%sFinished processing%c\n\n", kPhase, ' ');
}
