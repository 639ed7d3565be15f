// korvane-bench-image OUT.{jpg,restart.jpg,progressive.jpg,png,interlaced.png,tif,pyramid.tif} WIDTH HEIGHT: writes the benchmarks'
// photo-like picture, for trying the viewer on large files by hand.
#include "bench_image.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s OUT.jpg|OUT.restart.jpg|OUT.progressive.jpg|OUT.png|OUT.interlaced.png|OUT.tif|OUT.pyramid.tif WIDTH HEIGHT\n", argv[0]);
        return 2;
    }
    korvane::bench::writeBenchImage(argv[1], std::atoi(argv[2]), std::atoi(argv[3]));
    return 0;
}
