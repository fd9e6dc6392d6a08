// How zel_ldd shows the lines of its trees as they are found: the tree
// itself, the flat list of DLL files (-l), or nothing until the JSON
// document of the whole run (-j).
#pragma once

#include <memory>
#include <string>
#include <unordered_set>

#include "zel_ldd.h"

class LddSink {
  public:
    explicit LddSink(LddOutput output);
    ~LddSink();
    LddSink(const LddSink &) = delete;
    LddSink &operator=(const LddSink &) = delete;
    // A line of a tree, as soon as it is found.
    void line(const TreeLine &l);
    // An object whose check is complete (its DLLs are still at hand).
    void object(const ObjectReport &rep);
    // The run is over: with -j, the document goes out.
    void finish(int status);

  private:
    struct Document;
    LddOutput output_;
    std::unordered_set<const DllImage *> listed_; // -l and -j: each DLL file once
    std::unique_ptr<Document> json_;
    std::string text_; // the line being written
};
