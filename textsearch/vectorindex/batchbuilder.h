// Adding a large batch of stored texts with two threads.
//
// Parsing is most of the cost of building the index. The batch is parsed in rounds of a few
// thousand consecutive documents, cut into blocks. This thread takes blocks from the front of the
// round, parsing each and handing it to the segment builder at once; a helper thread takes them
// from the back, and its blocks are handed over when the two meet. So this thread never waits
// for the helper but at the meeting point, for the one block the helper holds there: a helper
// that the machine's other work holds up only leaves more blocks to this thread. (Handing the
// blocks over in order while both threads parse them in turn would make this thread wait for
// every block the helper took, on a busy machine a scheduling slice each time; that made loading
// on two busy cores slower than on one.) The postings in flight are at most one round's, and
// nothing is kept from one batch to the next.
//
// Terms. During the batch both threads only read the dictionary. A name it lacks gets, on this
// thread, an id from a dictionary of the batch's new names numbered on from the dictionary's
// ids; on the helper, an id of the helper's own, which this thread turns into one of the first
// kind at the end of the round. At the end the new names are entered into the dictionary in
// order, where they get exactly those ids. Which of two new names gets the lower id can differ
// from adding the texts one by one; ids only name terms, and no score or order depends on them.
#pragma once

#include <span>
#include <string_view>

#include "textsearch/vectorindex/segmentbuilder.h"
#include "textsearch/vectorindex/termdictionary.h"

namespace vindex {

// Batches from this size on are worth a second thread.
inline constexpr size_t kMinParallelBatch = 1024;

// Adds texts as the documents from builder.Next() on, as that many calls of builder.Add would
// (EndBatch is left to the caller). REQUIRES: exclusive access to dictionary and builder.
void AddInParallel(std::span<const std::string_view> texts, TTermDictionary& dictionary,
                   TSegmentBuilder& builder);

}  // namespace vindex
