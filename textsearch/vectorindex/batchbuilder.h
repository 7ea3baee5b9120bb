// Adding a large batch of stored texts with two threads.
//
// Parsing is most of the cost of building the index. The batch is cut into blocks of
// consecutive documents, which this thread and a helper thread take in turn, each parsing its
// block into postings; this thread also hands the parsed blocks to the segment builder in
// document order. Whichever thread is free takes the next block, so the work balances itself
// on a busy machine, and the helper never runs more than a few blocks ahead of the hand-over,
// so the postings in flight stay small whatever the size of the batch. Nothing is kept from one
// batch to the next: a load that streams its rows in chunks pays no fixed cost per chunk beyond
// starting the helper.
//
// Terms. During the batch both threads only read the dictionary. A name it lacks gets, on this
// thread, an id from a dictionary of the batch's new names numbered on from the dictionary's
// ids; on the helper, an id of the helper's own, which this thread turns into one of the first
// kind when it hands the block over. At the end the new names are entered into the dictionary
// in order, where they get exactly those ids.
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
