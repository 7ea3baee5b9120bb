// The root of objects that travel through the work queue: a queued item is a TObject*, and the
// worker tells wrapped items from bare ones by their dynamic type.
#pragma once

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = default;
    TObject& operator=(const TObject&) = default;
    virtual ~TObject() = default;
};
