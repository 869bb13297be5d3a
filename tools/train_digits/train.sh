#!/usr/bin/env bash
# Rebuilds the shipped digit model: fetches the MNIST digits, builds the
# training tool and trains with the fixed seed. The handwritten digits the
# simulator keeps (simulator/digits/mnist_digits.bin) are held out.
#   tools/train_digits/train.sh [build folder]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${1:-"$here/build"}
mnist=$("$here/tools/train_digits/fetch_mnist.sh")
cmake --build "$build" --target train_digits draw_answer_pictures
"$build/tools/train_digits/draw_answer_pictures" "$here/resources/detect"
"$build/tools/train_digits/train_digits" --mnist "$mnist" \
    --holdout-pictures "$here/simulator/digits/mnist_digits.bin" \
    --out "$here/resources/detect/mnist_cnn_traced.pt"
