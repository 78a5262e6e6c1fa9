#version 440

// A frame of 8-bit colour indices: the index of the texel the pixel falls
// in, then its colour in the 256 x 1 palette (premultiplied).

layout(location = 0) in vec2 texCoord;

layout(location = 0) out vec4 fragColor;

layout(std140, binding = 0) uniform buf {
    mat4 qt_Matrix;
    float qt_Opacity;
};

layout(binding = 1) uniform sampler2D indices;
layout(binding = 2) uniform sampler2D palette;

void main()
{
    ivec2 texel = ivec2(texCoord * vec2(textureSize(indices, 0)));
    int index = int(texelFetch(indices, texel, 0).r * 255.0 + 0.5);
    fragColor = texelFetch(palette, ivec2(index, 0), 0) * qt_Opacity;
}
