// The fast form of the analysis and of the views against the literal form, on one depth frame.
#pragma once

#include <string>

#include <opencv2/core.hpp>

// Empty when both forms give the same combined band mask and bounds, candidate contours,
// outcome, pose, report text (UTF-8 and GBK) and depth and result views, and the report is well
// formed; otherwise what differs first. The depth image must be 480 x 640 CV_16UC1.
std::string compare_analysis_forms(const cv::Mat& depth);

// Empty when the text is a well-formed UTF-8 report of write_report: one outcome line, or the
// thirteen lines of a pose report with a number wherever one belongs; otherwise the first fault.
std::string report_fault(const std::string& report);
