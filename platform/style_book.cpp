#include "platform/style_book.h"

#include <QImage>
#include <QString>

TStyleBook::TStyleBook(TComponent* AOwner) : TComponent(AOwner) {}

TStyleBook::~TStyleBook() = default;

void TStyleBook::AddImage(const std::string& Key, std::unique_ptr<TBitmap> Image)
{
    m_images[Key] = std::move(Image);
}

bool TStyleBook::LoadImage(const std::string& Key, const std::string& Path)
{
    const QImage image(QString::fromStdString(Path));
    if (image.isNull())
        return false;
    // setImage keeps the alpha channel: the icons are discs on a transparent
    // square and must stay see-through around the disc.
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->setImage(image);
    AddImage(Key, std::move(bitmap));
    return true;
}

const TBitmap* TStyleBook::FindImage(const std::string& Key) const
{
    const auto it = m_images.find(Key);
    return it == m_images.end() ? nullptr : it->second.get();
}
