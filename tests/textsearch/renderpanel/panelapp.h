// Shared set-up for the panel's widget tests and benchmark: the program's fonts, and a small owner
// of search hits and their score tree. The QApplication itself lives on main's stack (see
// panel_test_main.cpp): destroyed during exit handlers it would outlive the font engines.
#pragma once

#include <QApplication>
#include <QFont>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "textsearch/searchhit.h"
#include "textsearch/scoretree.h"

// Before the QApplication exists: selects the offscreen platform unless one is chosen, so that
// test discovery runs without a display.
void PreparePanelPlatform();

// Loads Tahoma and its bold face. REQUIRES: a QApplication exists.
void LoadPanelFonts();

// Tahoma at a size in points (Qt's default sans font when the font files are absent).
QFont PanelFont(double points);

// Hits with the texts they view, and the tree that orders them. The hits lie one after another
// and their texts in large chunks, the way a search pass lays them out.
struct THitSet {
    std::deque<TcvResults> hits;  // a deque keeps the hits in place as it grows
    std::vector<std::unique_ptr<char[]>> chunks;
    std::size_t used = 0;  // bytes used of the last chunk
    TScoretree<TcvResults> tree;

    TcvResults* Add(float score, std::string_view title, std::string_view excerpt);
    void Clear() {
        tree.Clear();
        hits.clear();
        chunks.clear();
        used = 0;
    }

private:
    std::string_view Keep(std::string_view text);
};

// Fills hits with `count` hits of varied scores, title lengths and excerpts, including equal
// scores, characters of Windows-1252 beyond ASCII (UTF-8, as all hit texts), line breaks, empty
// excerpts and now and then a tab. With otherscripts, words in Polish, Greek, Cyrillic, Chinese
// and Japanese and emoji are among them too.
void AddVariedHits(THitSet& hits, int count, unsigned seed, bool otherscripts = false);
