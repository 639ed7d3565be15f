// korvane-png-decode FILE: the decoder alone, for comparison: reads every
// row of an 8-bit PNG into one buffer with libpng, and nothing else.
#include <png.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    std::FILE* file = std::fopen(argv[1], "rb");
    if (!file)
        return 1;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)))
        return 1;
    png_init_io(png, file);
    png_read_info(png, info);
    png_set_strip_16(png);
    png_read_update_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    std::vector<png_byte> pixels(rowBytes * height);
    for (png_uint_32 y = 0; y < height; ++y)
        png_read_row(png, pixels.data() + y * rowBytes, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    volatile png_byte sink = pixels[pixels.size() / 2]; // the pixels are used
    (void)sink;
    return 0;

}
