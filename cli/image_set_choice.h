// Which images a download takes from an image-set file: the rows the window
// would show ticked after loading the set, checked the way its Download
// command checks them.
#pragma once

#include <string>
#include <vector>

#include "cli/options.h"
#include "config/image_set.h"

namespace cli {

// Fills images from the ticked rows of set. False with the window's message
// ("Select Image !", "Invalid Modem Image/Address !", ...) when the set cannot
// be downloaded, or naming the file of a ticked row that is missing: a
// download never sends less than the set asks for.
bool ChooseFromImageSet(const ImageSet& set, std::vector<ImageChoice>* images, std::string* error);

// One line listing every problem ("a; b").
std::string JoinLines(const std::vector<std::string>& lines);

// The image set as the window lists it, one line per row.
std::vector<std::string> DescribeImageSet(const ImageSet& set);

}  // namespace cli
