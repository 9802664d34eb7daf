# Third-party libraries of the platform core: the image codecs behind the GDI+ stand-in.
find_package(PNG REQUIRED)
find_package(JPEG REQUIRED)
find_package(GIF REQUIRED)
find_package(TIFF REQUIRED)
target_link_libraries(platform PRIVATE PNG::PNG JPEG::JPEG GIF::GIF TIFF::TIFF)
