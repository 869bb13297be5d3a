#include "tools/train_digits/DigitNet.h"

namespace F = torch::nn::functional;

namespace {
// The forward of the shipped model, in TorchScript; it must do exactly what
// DigitNetImpl::forward does in evaluation mode.
const char *const ScriptForward = R"JIT(
def forward(self, x):
    x = torch.max_pool2d(torch.relu(torch.conv2d(x, self.conv1_weight, self.conv1_bias, [1, 1], [1, 1])), [2, 2])
    x = torch.max_pool2d(torch.relu(torch.conv2d(x, self.conv2_weight, self.conv2_bias, [1, 1], [1, 1])), [2, 2])
    x = torch.max_pool2d(torch.relu(torch.conv2d(x, self.conv3_weight, self.conv3_bias, [1, 1], [1, 1])), [2, 2])
    x = torch.flatten(x, 1)
    x = torch.relu(torch.linear(x, self.fc1_weight, self.fc1_bias))
    return torch.linear(x, self.fc2_weight, self.fc2_bias)
)JIT";
} // namespace

DigitNetImpl::DigitNetImpl(const Widths &w)
{
    conv1 = register_module("conv1", torch::nn::Conv2d(torch::nn::Conv2dOptions(1, w.conv1, 3).padding(1)));
    norm1 = register_module("norm1", torch::nn::BatchNorm2d(w.conv1));
    conv2 = register_module("conv2", torch::nn::Conv2d(torch::nn::Conv2dOptions(w.conv1, w.conv2, 3).padding(1)));
    norm2 = register_module("norm2", torch::nn::BatchNorm2d(w.conv2));
    conv3 = register_module("conv3", torch::nn::Conv2d(torch::nn::Conv2dOptions(w.conv2, w.conv3, 3).padding(1)));
    norm3 = register_module("norm3", torch::nn::BatchNorm2d(w.conv3));
    // 28 -> 14 -> 7 -> 3: the last pooling drops the seventh row and column,
    // the matrix's outer edge after the reduction, where no digit reaches.
    fc1 = register_module("fc1", torch::nn::Linear(w.conv3 * 3 * 3, w.hidden));
    fc2 = register_module("fc2", torch::nn::Linear(w.hidden, Classes));
    dropout = register_module("dropout", torch::nn::Dropout(0.3));
}

torch::Tensor DigitNetImpl::forward(torch::Tensor x)
{
    x = F::max_pool2d(torch::relu(norm1->forward(conv1->forward(x))), F::MaxPool2dFuncOptions(2));
    x = F::max_pool2d(torch::relu(norm2->forward(conv2->forward(x))), F::MaxPool2dFuncOptions(2));
    x = F::max_pool2d(torch::relu(norm3->forward(conv3->forward(x))), F::MaxPool2dFuncOptions(2));
    x = torch::flatten(x, 1);
    x = dropout->forward(torch::relu(fc1->forward(x)));
    return fc2->forward(x);
}

namespace {
// A convolution followed by batch normalisation (evaluation mode) is one
// convolution with scaled weights and a shifted bias.
std::pair<torch::Tensor, torch::Tensor> fold(torch::nn::Conv2d &conv, torch::nn::BatchNorm2d &norm)
{
    const torch::Tensor scale = norm->weight / torch::sqrt(norm->running_var + norm->options.eps());
    const torch::Tensor weight = conv->weight * scale.reshape({-1, 1, 1, 1});
    const torch::Tensor bias = (conv->bias - norm->running_mean) * scale + norm->bias;
    return {weight, bias};
}
} // namespace

torch::jit::Module DigitNetImpl::toTorchScript()
{
    torch::NoGradGuard noGrad;
    torch::jit::Module script("DigitNet");
    const auto [conv1Weight, conv1Bias] = fold(conv1, norm1);
    const auto [conv2Weight, conv2Bias] = fold(conv2, norm2);
    const auto [conv3Weight, conv3Bias] = fold(conv3, norm3);
    const std::pair<const char *, torch::Tensor> parameters[] = {
        {"conv1_weight", conv1Weight}, {"conv1_bias", conv1Bias},
        {"conv2_weight", conv2Weight}, {"conv2_bias", conv2Bias},
        {"conv3_weight", conv3Weight}, {"conv3_bias", conv3Bias},
        {"fc1_weight", fc1->weight},     {"fc1_bias", fc1->bias},
        {"fc2_weight", fc2->weight},     {"fc2_bias", fc2->bias},
    };
    for (const auto &[name, tensor] : parameters)
        script.register_parameter(name, tensor.detach().clone().contiguous(), false);
    script.define(ScriptForward);
    script.eval();
    return script;
}
