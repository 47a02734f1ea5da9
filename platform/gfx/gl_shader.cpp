// GLSL compile and link helpers and the prelude every stage starts with.
#include "platform/gfx/gl_device.h"

#include <vector>

std::string GlslPrelude(bool vertexStage) {
    std::string text = "#version 330 core\n";
    if (vertexStage) {
        text += "layout(location = 0) in vec3 duo_Position;\n"
                "layout(location = 1) in vec3 duo_Normal;\n"
                "layout(location = 2) in vec2 duo_TexCoord;\n"
                // Colours are 0xAARRGGBB words: bytes B, G, R, A in memory, read as four
                // normalised bytes and put in order here (cheaper than GL's BGRA format).
                "layout(location = 3) in vec4 duo_ColorBytes;\n"
                "#define duo_Color (duo_ColorBytes.bgra)\n";
    }
    // Matrices are row-vector ones: transform with `v * M`.
    text += "uniform mat4 duo_World;\n"
            "uniform mat4 duo_View;\n"
            "uniform mat4 duo_Projection;\n"
            "uniform vec4 duo_MaterialDiffuse;\n"
            "uniform vec4 duo_MaterialAmbient;\n"
            "uniform vec4 duo_MaterialSpecular;\n"
            "uniform vec4 duo_MaterialEmissive;\n"
            "uniform float duo_MaterialPower;\n"
            "uniform sampler2D duo_Texture0;\n"
            "uniform int duo_HasTexture0;\n"
            // Our projections give clip z in [0, w]; GL clips z to [-w, w].
            "vec4 duo_ToGlClip(vec4 c) { return vec4(c.xy, 2.0 * c.z - c.w, c.w); }\n";
    return text;
}

GLuint CompileGlShader(GLenum stage, std::string_view source, std::string* log) {
    GLuint shader = glCreateShader(stage);
    const char* text = source.data();
    GLint length = static_cast<GLint>(source.size());
    glShaderSource(shader, 1, &text, &length);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok == GL_TRUE) return shader;
    if (log) {
        GLint size = 0;
        glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &size);
        std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
        glGetShaderInfoLog(shader, size, nullptr, buffer.data());
        *log = buffer.data();
    }
    glDeleteShader(shader);
    return 0;
}

GLuint LinkGlProgram(GLuint vertex, GLuint fragment, std::string* log) {
    GLuint program = glCreateProgram();
    glAttachShader(program, vertex);
    glAttachShader(program, fragment);
    glBindAttribLocation(program, kAttribPosition, "duo_Position");
    glBindAttribLocation(program, kAttribNormal, "duo_Normal");
    glBindAttribLocation(program, kAttribTexCoord, "duo_TexCoord");
    glBindAttribLocation(program, kAttribColor, "duo_ColorBytes");
    glLinkProgram(program);
    glDetachShader(program, vertex);
    glDetachShader(program, fragment);
    GLint ok = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (ok == GL_TRUE) return program;
    if (log) {
        GLint size = 0;
        glGetProgramiv(program, GL_INFO_LOG_LENGTH, &size);
        std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
        glGetProgramInfoLog(program, size, nullptr, buffer.data());
        *log = buffer.data();
    }
    glDeleteProgram(program);
    return 0;
}

GLuint BuildGlProgram(std::string_view vertex, std::string_view fragment, const char* what) {
    std::string log;
    GLuint vs = CompileGlShader(GL_VERTEX_SHADER, vertex, &log);
    GLuint fs = vs ? CompileGlShader(GL_FRAGMENT_SHADER, fragment, &log) : 0;
    GLuint program = vs && fs ? LinkGlProgram(vs, fs, &log) : 0;
    glDeleteShader(vs);
    glDeleteShader(fs);
    if (!program) std::fprintf(stderr, "%s: %s\n", what, log.c_str());
    return program;
}

void LookUpReservedUniforms(GlProgram& program) {
    auto at = [&](const char* name) { return glGetUniformLocation(program.id, name); };
    GlReservedUniforms& r = program.reserved;
    r.world = at("duo_World");
    r.view = at("duo_View");
    r.projection = at("duo_Projection");
    r.materialDiffuse = at("duo_MaterialDiffuse");
    r.materialAmbient = at("duo_MaterialAmbient");
    r.materialSpecular = at("duo_MaterialSpecular");
    r.materialEmissive = at("duo_MaterialEmissive");
    r.materialPower = at("duo_MaterialPower");
    r.texture0 = at("duo_Texture0");
    r.hasTexture0 = at("duo_HasTexture0");
}
