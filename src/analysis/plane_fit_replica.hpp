// fit_plane's result, bit for bit, from the points written straight into its buffers.
#pragma once

#include <cstddef>
#include <vector>

#include <Eigen/Core>
#include <opencv2/core.hpp>

// fit_plane evaluates (A^T A)^-1 A^T w with the matrix library's own product kernels, and the
// last bits of its result come from their order of summation:
// - A^T A is summed along the n points in blocks of kc points (kc is the library's cache
//   blocking for a 3 x n by n x 3 product), each block from zero in point order, the block sums
//   added in order;
// - the 3 x n product P A^T (P the 3 x 3 inverse) is formed column by column as
//   ((0 + P_i0 x) + P_i1 y) + P_i2;
// - its product with w is summed in blocks of 16 columns, each block from zero, the block sums
//   added in order.
// No other order gives the same bits: the fit is ill-conditioned enough that a one-pass or a
// more accurate fit differs from it by up to 1e-11 relative. PlaneFitReplica sums the same terms
// in the same order without the n x 3 matrix, four or eight blocks side by side in vector lanes:
// each lane runs one block's sequential sum, which is exactly the library's.
class PlaneFitReplica {
public:
    // Whether the replica covers n points: below 128 points the library forms the products
    // coefficient by coefficient or sums the last product in one block, and fit_plane itself is
    // cheap anyway.
    static bool covers(std::size_t n) { return n >= 128; }

    // Where the n points go: x[i], y[i], z[i] for point i in the order fit_plane would see them.
    // Up to `spare` entries past the n-th may be written (and are ignored).
    struct Points {
        double* x;
        double* y;
        double* z;
    };
    static constexpr std::size_t spare = 8;

    // Makes room for n points (covers(n) must hold); the buffers grow and are kept.
    Points start(std::size_t n);

    // fit_plane of the n points written since start, four blocks side by side (AVX2 or the
    // portable code) or eight (AVX-512); automatic takes the widest this processor runs. Every
    // form gives the same bits; forcing one this processor cannot run throws cv::Exception.
    enum class Lanes { automatic, portable, avx2, avx512 };
    Eigen::Vector3d solve(Lanes lanes);
    static bool available(Lanes lanes);
    Eigen::Vector3d solve();
    Eigen::Vector3d solve_portable();

private:
    std::size_t n_ = 0;
    std::size_t kc_ = 1;  // points per block of A^T A
    std::vector<double> x_, y_, z_;
};
