#pragma once

#include <torch/script.h>
#include <torch/torch.h>

// The digit classifier: three 3 x 3 convolutions, each with batch
// normalisation, ReLU and max pooling, then two fully connected layers
// (widths chosen by the training tool);
// float32 [N, 1, 28, 28] in, [N, 11] class scores out. Trained as a
// torch::nn module, shipped as a TorchScript module with the same arithmetic
// (the normalisation folded into the convolutions).
class DigitNetImpl : public torch::nn::Module
{
public:
    static constexpr int Classes = 11;

    struct Widths {
        int conv1 = 32;   // channels of the first convolution
        int conv2 = 64;   // channels of the second convolution
        int conv3 = 128;  // channels of the third convolution
        int hidden = 256; // units of the hidden layer
    };

    DigitNetImpl() : DigitNetImpl(Widths{}) {}
    explicit DigitNetImpl(const Widths &widths);
    torch::Tensor forward(torch::Tensor x);

    // A TorchScript module with copies of the trained parameters and the
    // same forward, ready to save.
    torch::jit::Module toTorchScript();

private:
    torch::nn::Conv2d conv1{nullptr}, conv2{nullptr}, conv3{nullptr};
    torch::nn::BatchNorm2d norm1{nullptr}, norm2{nullptr}, norm3{nullptr};
    torch::nn::Linear fc1{nullptr}, fc2{nullptr};
    torch::nn::Dropout dropout{nullptr};
};
TORCH_MODULE(DigitNet);
