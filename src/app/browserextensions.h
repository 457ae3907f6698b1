#pragma once

namespace qmt {

// The extensions the browser lists. ".jpeg" and ".tiff" are associated with the program and
// offered by its Open dialog, so they are listed too; so are cursors, which the viewer shows, and
// the newer formats of phones, cameras and the web.
inline constexpr char kBrowserExtensions[] = "JPG JPEG GIF BMP PNG PSD TIF TIFF PCX TGA WBMP PCD "
                                             "WMF EMF ICO CUR DIB WEBP AVIF HEIC HEIF JXL";

} // namespace qmt
