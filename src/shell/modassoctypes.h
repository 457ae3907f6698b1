#pragma once

#include <QLatin1String>

#include <array>

namespace qmt {

// One image type the program opens, as it is registered with the desktop.
struct AssociationType {
    QLatin1String extension;   // with its dot
    QLatin1String progId;      // the class key
    QLatin1String description; // the class key's default value
    QLatin1String iconFile;    // below the program folder
    QLatin1String mimeType;    // what the desktop calls the type
};

// The fifteen types, in the order every association operation walks them. ".tla" has no type in
// the shared MIME database; the program defines "image/x-tla" for it.
inline constexpr std::array<AssociationType, 15> kAssociationTypes{{
    {QLatin1String(".jpg"), QLatin1String("Orvanta.jpg"), QLatin1String("Orvanta JPG image"),
     QLatin1String("icons/jpg.ico"), QLatin1String("image/jpeg")},
    {QLatin1String(".jpeg"), QLatin1String("Orvanta.jpeg"), QLatin1String("Orvanta JPEG image"),
     QLatin1String("icons/jpg.ico"), QLatin1String("image/jpeg")},
    {QLatin1String(".gif"), QLatin1String("Orvanta.gif"), QLatin1String("Orvanta GIF image"),
     QLatin1String("icons/gif.ico"), QLatin1String("image/gif")},
    {QLatin1String(".bmp"), QLatin1String("Orvanta.bmp"), QLatin1String("Orvanta BMP image"),
     QLatin1String("icons/bmp.ico"), QLatin1String("image/bmp")},
    {QLatin1String(".dib"), QLatin1String("Orvanta.dib"), QLatin1String("Orvanta DIB image"),
     QLatin1String("icons/dib.ico"), QLatin1String("image/bmp")},
    {QLatin1String(".png"), QLatin1String("Orvanta.png"), QLatin1String("Orvanta PNG image"),
     QLatin1String("icons/png.ico"), QLatin1String("image/png")},
    {QLatin1String(".psd"), QLatin1String("Orvanta.psd"), QLatin1String("Orvanta PSD image"),
     QLatin1String("icons/psd.ico"), QLatin1String("image/vnd.adobe.photoshop")},
    {QLatin1String(".tif"), QLatin1String("Orvanta.tif"), QLatin1String("Orvanta TIF image"),
     QLatin1String("icons/tif.ico"), QLatin1String("image/tiff")},
    {QLatin1String(".pcx"), QLatin1String("Orvanta.pcx"), QLatin1String("Orvanta PCX image"),
     QLatin1String("icons/pcx.ico"), QLatin1String("image/vnd.zbrush.pcx")},
    {QLatin1String(".tga"), QLatin1String("Orvanta.tga"), QLatin1String("Orvanta TGA image"),
     QLatin1String("icons/tga.ico"), QLatin1String("image/x-tga")},
    {QLatin1String(".wbmp"), QLatin1String("Orvanta.wbmp"), QLatin1String("Orvanta WBMB image"),
     QLatin1String("icons/wbmb.ico"), QLatin1String("image/vnd.wap.wbmp")},
    {QLatin1String(".wmf"), QLatin1String("Orvanta.wmf"), QLatin1String("Orvanta WMF image"),
     QLatin1String("icons/wmf.ico"), QLatin1String("image/wmf")},
    {QLatin1String(".ico"), QLatin1String("Orvanta.ico"), QLatin1String("Orvanta Icon"),
     QLatin1String("icons/ico.ico"), QLatin1String("image/vnd.microsoft.icon")},
    {QLatin1String(".emf"), QLatin1String("Orvanta.emf"), QLatin1String("Orvanta EMF image"),
     QLatin1String("icons/emf.ico"), QLatin1String("image/emf")},
    {QLatin1String(".tla"), QLatin1String("Orvanta.tla"), QLatin1String("Orvanta TLA image"),
     QLatin1String("icons/icon.ico"), QLatin1String("image/x-tla")},
}};

// The newer picture types the program opens beside the fifteen. They have no registry layout and
// are not part of the start-up question: the desktop opens them with the program whenever the
// fifteen are associated, and they are given back with them. ".heic" files are "image/heif" to
// the shared MIME database, which knows "image/heic" as another name for it; both are claimed.
inline constexpr std::array<QLatin1String, 5> kModernMimeTypes{{
    QLatin1String("image/webp"),
    QLatin1String("image/avif"),
    QLatin1String("image/heif"),
    QLatin1String("image/heic"),
    QLatin1String("image/jxl"),
}};

// The MIME type of an extension of the table (with its dot, any case); empty for others.
inline QLatin1String associationMimeType(QStringView extension)
{
    for (const AssociationType &type : kAssociationTypes)
        if (extension.compare(type.extension, Qt::CaseInsensitive) == 0)
            return type.mimeType;
    return QLatin1String();
}

} // namespace qmt
