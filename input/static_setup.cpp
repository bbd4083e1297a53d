// The shared globals that need construction are defined here, in one
// translation unit, so that they are built before main in this fixed order
// and destroyed at exit in the reverse order. (ChromosomeTable's vectors are
// built in genotype_store.cpp and never destroyed.)
#include <xmmintrin.h>

#include <ios>
#include <map>
#include <string>
#include <vector>

#include "ibd/output_buffer.h"
#include "input/genotype_store.h"
#include "input/line_queue.h"
#include "input/line_tokens.h"
#include "input/thread_slots.h"
#include "setup/global_id_maps.h"

namespace {
// The process runs with denormal results flushed to zero and denormal inputs
// read as zero (MXCSR FTZ and DAZ); threads created later inherit the mode.
struct FlushDenormals {
  FlushDenormals() { _mm_setcsr(_mm_getcsr() | 0x8040); }
} flush_denormals;
}  // namespace

namespace GlobalIdMaps {
std::map<std::string, int32_t> name_to_id;
std::map<int32_t, std::string> id_to_name;
int32_t next_id = 0;
}  // namespace GlobalIdMaps

static std::ios_base::Init stream_init;
static std::vector<std::vector<int32_t>> unused_table_of_tables;

ThreadSlot thread_slots[kThreadSlotCount];
AtomicCircularQueue line_queue;
static LineTokens unused_line_tokens;

GrowableArray<float> allele_freqs;
GrowableArray<VariantRecord> variant_records;

OutputBuffer ibd_output;
OutputBuffer segments_output;
