#pragma once

// LibTorch before any Qt header.
#include "recognition/DigitRecognizer.h"

#include <string>
#include <vector>

// Small TorchScript models with known answers, built and saved by the tests.
namespace TinyModels {

// forward answers the given scores whatever the picture (their shape is the
// shape of the answer).
inline void saveConstant(const std::string &path, const std::vector<float> &scores,
                         std::vector<int64_t> shape)
{
    torch::jit::Module m("ConstantScores");
    m.register_parameter("scores",
                         torch::tensor(scores, torch::kFloat32).reshape(shape).clone(), false);
    m.define(R"JIT(
def forward(self, x):
    return self.scores + 0.0 * torch.sum(x)
)JIT");
    m.save(path);
}

// forward answers a pair instead of a tensor.
inline void saveTupleAnswer(const std::string &path)
{
    torch::jit::Module m("TupleAnswer");
    m.define(R"JIT(
def forward(self, x):
    return (x, x)
)JIT");
    m.save(path);
}

} // namespace TinyModels
