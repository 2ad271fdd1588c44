// The rendered scenes against the analysis's floor alignment and fixed bands: where the default
// mount lets the bands select a pallet face wider than 200 pixels, and where no mount can.
#include <cmath>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "analysis/ground_alignment.hpp"
#include "analysis/range_masks.hpp"
#include "sim/render.hpp"

namespace {

// Bounding-rectangle width (pixels) of the candidate region of largest area; 0 for none.
int largest_region_width(const cv::Mat& depth)
{
    const std::vector<Contour> candidates =
        find_candidate_contours(make_combined_band_mask(align_to_ground(depth)));
    int width = 0;
    double largest = -1.0;
    for (const Contour& contour : candidates) {
        const double area = cv::contourArea(contour);
        if (area > largest) {
            largest = area;
            width = cv::boundingRect(contour).width;
        }
    }
    return width;
}

sim::Scene mounted(sim::Scene scene, const sim::Mount& mount)
{
    scene.mount = mount;
    return scene;
}

}  // namespace

TEST(SimEnvelope, DefaultMountSeesThePalletFaceFromOneToTwoMetres)
{
    for (const double distance : {1000.0, 1250.0, 1500.0, 1750.0, 2000.0}) {
        const sim::Frame frame = sim::render(sim::pallet_scene(distance), 11);
        const double face_width = 1200.0 * sim::depth_camera.fx / frame.truth.pallets[0].faces[0].centre.z();
        const int width = largest_region_width(frame.depth);
        EXPECT_GT(width, 200) << distance;
        // The region is the face itself (grown a little by the blur), not a patch of floor.
        EXPECT_NEAR(width, face_width, 10.0) << distance;
    }
    EXPECT_GT(largest_region_width(sim::render(sim::warehouse_scene(), 11).depth), 200);
    EXPECT_GT(largest_region_width(sim::render(sim::pallet_scene(1500.0, 150.0, 15.0), 11).depth), 200);
    sim::Scene hollow = sim::pallet_scene(1500.0);  // fork openings without returns
    hollow.sensor.cavity_no_return = true;
    EXPECT_GT(largest_region_width(sim::render(hollow, 11).depth), 200);
}

TEST(SimEnvelope, NoPalletBeyondTheBandsOrWithTheCameraLookingDown)
{
    // Too far: the face is narrower than 200 pixels.
    EXPECT_LE(largest_region_width(sim::render(sim::pallet_scene(2500.0), 11).depth), 200);
    // A camera 1 m up looking down: the distance band lies between it and the floor's reference.
    for (const double distance : {1000.0, 1500.0, 2000.0}) {
        const sim::Scene scene = mounted(sim::pallet_scene(distance), {1000.0, -15.0, 0.0});
        EXPECT_EQ(largest_region_width(sim::render(scene, 11).depth), 0) << distance;
    }
    // A floor alone gives no region at the default mount.
    EXPECT_EQ(largest_region_width(sim::render(sim::floor_scene(), 11).depth), 0);
}
