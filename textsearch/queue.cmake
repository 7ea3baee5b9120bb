# The lock, the work queue with its worker thread, and the score tree (header only).
target_sources(textsearch PRIVATE locks.h locks.cpp helix.h helix.cpp scoretree.h)
