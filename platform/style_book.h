#pragma once

// A store of images under keys (style names), loaded from the program's
// compiled-in resources.

#include <map>
#include <memory>
#include <string>

#include "platform/bitmap.h"
#include "platform/controls.h"

class TStyleBook : public TComponent {
public:
    explicit TStyleBook(TComponent* AOwner);
    ~TStyleBook() override;

    // Adds (or replaces) the image stored under Key.
    void AddImage(const std::string& Key, std::unique_ptr<TBitmap> Image);
    // Loads Key from a PNG file or resource path (":/..."); false when it
    // cannot be read.
    bool LoadImage(const std::string& Key, const std::string& Path);
    // The image stored under Key, or nullptr when the book holds none.
    const TBitmap* FindImage(const std::string& Key) const;
    int ImageCount() const { return static_cast<int>(m_images.size()); }

private:
    std::map<std::string, std::unique_ptr<TBitmap>> m_images;
};
