// graybmp._graybmp: the library's conversions for Python, over graybmp.h. Buffers are
// read through the buffer protocol without a copy, and the GIL is let go while the
// library works. Failures become graybmp.Error (with .code, the library's name for the
// status), OSError (errno and the file's name) or ValueError and TypeError for the call.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "graybmp.h"

namespace py = pybind11;

namespace {

PyObject* errorType = nullptr;  // graybmp.Error, made once when the module is loaded

// The Error a status stands for, as an object: str() the message, .code the status name.
py::object errorOf(const graybmp_error& e) {
    py::object error = py::reinterpret_steal<py::object>(
        PyObject_CallFunction(errorType, "s", e.message));
    if (!error) throw py::error_already_set();
    error.attr("code") = graybmp_status_name(e.status);
    return error;
}

bool isOsFailure(graybmp_status s) {
    switch (s) {
    case GRAYBMP_OPEN_FAILED:
    case GRAYBMP_READ_FAILED:
    case GRAYBMP_CREATE_FAILED:
    case GRAYBMP_WRITE_FAILED:
    case GRAYBMP_REPLACE_FAILED:
    case GRAYBMP_INPUT_IS_DIRECTORY:
        return true;
    default:
        return false;
    }
}

// Raises what `e` says, naming `input` or `output` for a file the OS could not handle.
[[noreturn]] void raise(const graybmp_error& e, const char* input = nullptr,
                        const char* output = nullptr) {
    if (e.status == GRAYBMP_BAD_ARGUMENT) throw py::value_error(e.message);
    if (e.status == GRAYBMP_NO_MEMORY) throw std::bad_alloc();
    if (isOsFailure(e.status) && (input != nullptr || output != nullptr)) {
        const int number = e.status == GRAYBMP_INPUT_IS_DIRECTORY ? EISDIR
                           : e.os_error != 0                       ? e.os_error
                                                                   : EIO;
        const char* name = e.side == GRAYBMP_SIDE_OUTPUT ? output : input;
        py::object os = py::reinterpret_steal<py::object>(
            PyObject_CallFunction(PyExc_OSError, "iss", number, std::strerror(number), name));
        if (!os) throw py::error_already_set();
        PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(os.ptr())), os.ptr());
        throw py::error_already_set();
    }
    py::object error = errorOf(e);
    PyErr_SetObject(errorType, error.ptr());
    throw py::error_already_set();
}

// The levels, depth and dithering, the background and the pictures' limit, each None
// when not given.
struct LevelArgs {
    py::object levels = py::none(), depth = py::none(), dither = py::none();
    py::object background = py::none(), maxPixels = py::none();
    py::object serpentine = py::none(), strength = py::none();
    // {"input_range": (B, W), "normalize", "gamma" (thousandths), "negate", "grays", "threshold",
    //  "linear", and the output's: "format", "bit_order", "packing", "row_align", "name",
    //  "full_palette", "rows", "index_order", and the fit's: "fit_width", "fit_height",
    //  "fit", "filter", "rotate", "no_auto_orient" (their values as in graybmp.h)}
    py::object tone = py::none();
};

// A background: 0xRRGGBB, "white", "black" or "#RRGGBB".
std::uint32_t backgroundOf(const py::object& value) {
    if (py::isinstance<py::int_>(value) && !py::isinstance<py::bool_>(value)) {
        const long long v = value.cast<long long>();
        if (v < 0 || v > 0xFFFFFF) throw py::value_error("a background of " + std::to_string(v) + " is not 0xRRGGBB");
        return static_cast<std::uint32_t>(v);
    }
    if (!py::isinstance<py::str>(value)) throw py::type_error("background must be a str, an int or None");
    const std::string text = value.cast<std::string>();
    if (text == "white") return 0xFFFFFF;
    if (text == "black") return 0;
    std::uint32_t rgb = 0;
    bool ok = text.size() == 7 && text[0] == '#';
    for (std::size_t i = 1; ok && i < 7; ++i) {
        const char c = text[i];
        const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        ok = d >= 0;
        rgb = rgb << 4 | static_cast<std::uint32_t>(d < 0 ? 0 : d);
    }
    if (!ok) throw py::value_error("background is 'white', 'black' or '#RRGGBB', not '" + text + "'");
    return rgb;
}

// The options of a call, checked by the library unless `checked` says the library's call
// checks them first of all itself (and then raises the same ValueError).
graybmp_options optionsOf(const std::string& method, bool compact, const LevelArgs& l = {}, bool checked = true) {
    graybmp_options o;
    graybmp_options_init(&o);
    graybmp_error e;
    if (graybmp_options_set_method(&o, method.c_str(), &e) != GRAYBMP_OK) raise(e);
    o.compact = compact;
    const auto whole = [](const py::object& value, const char* name) {
        if (value.is_none()) return 0;
        if (!py::isinstance<py::int_>(value) || py::isinstance<py::bool_>(value))
            throw py::type_error(std::string(name) + " must be an int or None");
        const long long n = value.cast<long long>();
        if (n < 1 || n > 256)
            throw py::value_error(std::string(name) + " of " + std::to_string(n) + " is out of range");
        return static_cast<int>(n);
    };
    o.levels = whole(l.levels, "levels");
    o.depth = whole(l.depth, "depth");
    if (!l.dither.is_none()) {
        const std::string name = py::str(l.dither);
        if (graybmp_options_set_dither(&o, name.c_str(), &e) != GRAYBMP_OK) throw py::value_error(e.message);
    }
    if (!l.serpentine.is_none()) o.serpentine = l.serpentine.cast<bool>() ? 1 : 0;
    if (!l.strength.is_none()) {
        if (!py::isinstance<py::int_>(l.strength) || py::isinstance<py::bool_>(l.strength))
            throw py::type_error("strength must be an int or None");
        o.strength = static_cast<int>(std::clamp<long long>(l.strength.cast<long long>(), -1, 101));
    }
    if (!l.tone.is_none()) {
        const py::dict tone = l.tone.cast<py::dict>();
        const auto number = [](const py::handle& v, const char* name) {
            if (!py::isinstance<py::int_>(v) || py::isinstance<py::bool_>(v))
                throw py::type_error(std::string(name) + " takes ints");
            return static_cast<int>(std::clamp<long long>(v.cast<long long>(), -1, 256));
        };
        if (tone.contains("input_range") && !tone["input_range"].is_none()) {
            const py::sequence range = tone["input_range"].cast<py::sequence>();
            if (range.size() != 2) throw py::value_error("input_range is (black, white)");
            o.input_range_given = 1;
            o.input_black = number(range[0], "input_range"), o.input_white = number(range[1], "input_range");
        }
        if (tone.contains("negate")) o.negate = tone["negate"].cast<bool>() ? 1 : 0;
        if (tone.contains("normalize")) o.normalize = tone["normalize"].cast<bool>() ? 1 : 0;
        if (tone.contains("linear")) o.linear = tone["linear"].cast<bool>() ? 1 : 0;
        if (tone.contains("gamma") && !tone["gamma"].is_none()) {  // thousandths
            if (!py::isinstance<py::int_>(tone["gamma"])) throw py::type_error("gamma takes thousandths");
            o.gamma = static_cast<int>(std::clamp<long long>(tone["gamma"].cast<long long>(), -1, 10001));
        }
        if (tone.contains("grays") && !tone["grays"].is_none()) {
            const py::sequence grays = tone["grays"].cast<py::sequence>();
            if (grays.size() > 256) throw py::value_error("grays are one a level, at most 256");
            o.grays_count = static_cast<int>(grays.size());
            for (std::size_t k = 0; k < grays.size(); ++k) {
                const int g = number(grays[k], "grays");
                if (g < 0 || g > 255) throw py::value_error("a gray of " + std::to_string(g) + " (0 to 255)");
                o.grays[k] = static_cast<std::uint8_t>(g);
            }
        }
        if (tone.contains("threshold") && !tone["threshold"].is_none()) {
            o.threshold_given = 1;
            o.threshold = number(tone["threshold"], "threshold");
        }
        const auto field = [&](const char* key, int& to) {
            if (tone.contains(key) && !tone[key].is_none()) to = number(tone[key], key);
        };
        field("format", o.format), field("bit_order", o.bit_order), field("packing", o.packing);
        field("row_align", o.row_align), field("rows", o.rows), field("index_order", o.index_order);
        const auto wide = [&](const char* key, int& to) {  // the size's sides, 0 to 2^31
            if (!tone.contains(key) || tone[key].is_none()) return;
            if (!py::isinstance<py::int_>(tone[key]) || py::isinstance<py::bool_>(tone[key]))
                throw py::type_error(std::string(key) + " takes ints");
            to = static_cast<int>(std::clamp<long long>(tone[key].cast<long long>(), -1, 0x7FFFFFFF));
        };
        int fitWidth = 0, fitHeight = 0;
        wide("fit_width", fitWidth), wide("fit_height", fitHeight);
        if (fitWidth < 0 || fitHeight < 0) throw py::value_error("a size's sides are 1 to 65535");
        o.fit_width = static_cast<std::uint32_t>(fitWidth), o.fit_height = static_cast<std::uint32_t>(fitHeight);
        field("fit", o.fit), field("filter", o.filter), field("no_auto_orient", o.no_auto_orient);
        if (tone.contains("rotate") && !tone["rotate"].is_none()) o.rotate = tone["rotate"].cast<int>();
        if (tone.contains("full_palette")) o.full_palette = tone["full_palette"].cast<bool>() ? 1 : 0;
        if (tone.contains("name") && !tone["name"].is_none()) {
            // The str's own UTF-8, alive as long as the caller's dict holds it (the call).
            const py::object name = tone["name"];
            if (!py::isinstance<py::str>(name)) throw py::type_error("name must be a str or None");
            o.name = PyUnicode_AsUTF8(name.ptr());
            if (o.name == nullptr) throw py::error_already_set();
        }
    }
    if (!l.background.is_none()) {
        o.background_given = 1;
        o.background = backgroundOf(l.background);
    }
    if (!l.maxPixels.is_none()) {
        if (!py::isinstance<py::int_>(l.maxPixels) || py::isinstance<py::bool_>(l.maxPixels))
            throw py::type_error("max_pixels must be an int or None");
        const long long n = l.maxPixels.cast<long long>();
        if (n < 1) throw py::value_error("max_pixels of " + std::to_string(n) + " is out of range");
        o.max_pixels = static_cast<std::uint64_t>(n);
    }
    // The defaults with a method the library took cannot be refused: not checked again.
    const bool plain = l.levels.is_none() && l.depth.is_none() && l.dither.is_none() && l.background.is_none() &&
                       l.maxPixels.is_none() && l.serpentine.is_none() && l.strength.is_none() && l.tone.is_none();
    if (checked && !plain && graybmp_options_check(&o, &e) != GRAYBMP_OK) raise(e);
    return o;
}

// A contiguous view of any object with the buffer protocol, let go when done.
struct View {
    Py_buffer view{};
    bool held = false;
    View(py::handle object, bool writable) {
        if (PyBytes_Check(object.ptr()) == 0 && PyObject_CheckBuffer(object.ptr()) == 0)
            throw py::type_error(std::string("a bytes-like object is required, not '") +
                                 Py_TYPE(object.ptr())->tp_name + "'");
        const int flags = writable ? PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS : PyBUF_C_CONTIGUOUS;
        if (PyObject_GetBuffer(object.ptr(), &view, flags) != 0) {
            PyErr_Clear();
            throw py::type_error(writable ? "a writable, contiguous buffer is required"
                                          : "a contiguous buffer is required");
        }
        held = true;
    }
    ~View() {
        if (held) PyBuffer_Release(&view);
    }
    View(const View&) = delete;
    View& operator=(const View&) = delete;
    const void* data() const { return view.buf; }
    std::size_t size() const { return static_cast<std::size_t>(view.len); }
};

py::bytes gray(py::handle data, const std::string& method, bool compact, py::object levels,
               py::object depth, py::object dither, py::object background, py::object maxPixels,
               py::object serpentine, py::object strength, py::object tone) {
    const graybmp_options o =
        optionsOf(method, compact, {levels, depth, dither, background, maxPixels, serpentine, strength, tone}, false);
    View in(data, false);
    graybmp_error e;
    std::uint64_t length = 0;
    graybmp_status s;
    {
        py::gil_scoped_release free;
        s = graybmp_output_length(in.data(), in.size(), &o, &length, &e);
    }
    if (s != GRAYBMP_OK) raise(e);
    py::object out = py::reinterpret_steal<py::object>(
        PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(length)));
    if (!out) throw py::error_already_set();
    char* into = PyBytes_AS_STRING(out.ptr());
    {
        py::gil_scoped_release free;
        s = graybmp_convert_memory(in.data(), in.size(), into, static_cast<std::size_t>(length),
                                   &o, nullptr, &e);
    }
    if (s != GRAYBMP_OK) raise(e);
    return py::reinterpret_steal<py::bytes>(out.release());
}

void grayInplace(py::handle buffer, const std::string& method) {
    const graybmp_options o = optionsOf(method, false, {}, false);
    View in(buffer, true);
    graybmp_error e;
    graybmp_status s;
    {
        py::gil_scoped_release free;
        s = graybmp_convert_in_place(const_cast<void*>(in.data()), in.size(), &o, &e);
    }
    if (s != GRAYBMP_OK) raise(e);
}

void convert(const std::string& src, const std::string& dst, const std::string& method,
             bool compact, bool inPlace, py::object levels, py::object depth, py::object dither,
             py::object background, py::object maxPixels, py::object serpentine, py::object strength, py::object tone) {
    const graybmp_options o =
        optionsOf(method, compact, {levels, depth, dither, background, maxPixels, serpentine, strength, tone});
    graybmp_error e;
    graybmp_status s;
    {
        py::gil_scoped_release free;
        s = graybmp_convert_file(src.c_str(), inPlace ? nullptr : dst.c_str(), &o, nullptr, &e);
    }
    if (s != GRAYBMP_OK) raise(e, src.c_str(), inPlace ? src.c_str() : dst.c_str());
}

// The pixels of `data` in a new numpy array of (height, width) bytes, filled where it lies
// with the GIL let go.
py::object toArray(py::handle data, const std::string& method, py::object levels, py::object dither,
                   bool indices, py::object background, py::object maxPixels, py::object serpentine,
                   py::object strength, py::object tone) {
    graybmp_options o =
        optionsOf(method, false, {levels, py::none(), dither, background, maxPixels, serpentine, strength, tone});
    View in(data, false);
    graybmp_error e;
    if (o.levels == 0 && o.threshold_given == 0) o.levels = 256;  // as the pixels are: each a level of 8 bits
    o.depth = 8;
    std::uint32_t width = 0, rows = 0;
    if (graybmp_pixels_size(in.data(), in.size(), &o, &width, &rows, &e) != GRAYBMP_OK) raise(e);
    // numpy's own array, made through its C API, which is imported at the first call: numpy
    // stays optional for the rest of the module (the package checks for it first).
    py::array_t<std::uint8_t> out({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(width)});
    if (rows == 0 || width == 0) return std::move(out);
    View into(out, true);
    graybmp_status s;
    {
        py::gil_scoped_release free;
        s = graybmp_pixels(in.data(), in.size(), &o, indices ? GRAYBMP_PIXELS_INDICES : 0,
                           const_cast<void*>(into.data()), static_cast<std::size_t>(width),
                           into.size(), nullptr, nullptr, &e);
    }
    if (s != GRAYBMP_OK) raise(e);
    return std::move(out);
}

// A gray BMP of the pixels of any buffer whose rows lie `stride` bytes apart, each row's
// pixels one after another.
py::bytes fromPixels(py::handle array, std::uint32_t width, std::uint32_t height, std::size_t stride,
                     int layout, bool bottomUp, const std::string& method, py::object levels,
                     py::object depth, py::object dither, py::object background, py::object serpentine,
                     py::object strength, py::object tone) {
    const graybmp_options o =
        optionsOf(method, false, {levels, depth, dither, background, py::none(), serpentine, strength, tone});
    Py_buffer view{};
    if (PyObject_GetBuffer(array.ptr(), &view, PyBUF_STRIDED_RO) != 0) throw py::error_already_set();
    struct Release {
        Py_buffer* v;
        ~Release() { PyBuffer_Release(v); }
    } release{&view};
    graybmp_error e;
    std::uint64_t length = 0;
    if (graybmp_from_pixels_length(width, height, &o, &length, &e) != GRAYBMP_OK) raise(e);
    py::object out = py::reinterpret_steal<py::object>(
        PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(length)));
    if (!out) throw py::error_already_set();
    graybmp_status s;
    {
        py::gil_scoped_release free;
        s = graybmp_from_pixels(view.buf, width, height, stride, static_cast<graybmp_layout>(layout),
                                bottomUp ? GRAYBMP_PIXELS_BOTTOM_UP : 0, &o,
                                PyBytes_AS_STRING(out.ptr()), static_cast<std::size_t>(length),
                                nullptr, &e);
    }
    if (s != GRAYBMP_OK) raise(e);
    return py::reinterpret_steal<py::bytes>(out.release());
}

const char* kindName(graybmp_kind kind) {
    switch (kind) {
    case GRAYBMP_KIND_INDEXED8:
        return "indexed8";
    case GRAYBMP_KIND_PALETTIZED:
        return "palettized";
    case GRAYBMP_KIND_TRUE_COLOUR:
        return "true-colour";
    case GRAYBMP_KIND_RLE24:
        return "rle24";
    case GRAYBMP_KIND_ARRAY:
        return "array";
    case GRAYBMP_KIND_PNG:
        return "png";
    case GRAYBMP_KIND_JPEG:
        return "jpeg";
    case GRAYBMP_KIND_WEBP:
        return "webp";
    case GRAYBMP_KIND_GIF:
        return "gif";
    case GRAYBMP_KIND_NETPBM:
        return "netpbm";
    default:
        return nullptr;
    }
}

// (type, size, width, height, bit_count, kind, refusal) of the first bytes of an input of
// `length` bytes (-1: not known).
py::tuple header(py::handle data, long long length, bool compact, py::object levels,
                 py::object depth, py::object dither, py::object background, py::object maxPixels,
                 py::object serpentine, py::object strength, py::object tone) {
    const graybmp_options o =
        optionsOf("mean", compact, {levels, depth, dither, background, maxPixels, serpentine, strength, tone}, false);
    View in(data, false);
    graybmp_header h;
    graybmp_error e;
    const std::uint64_t whole =
        length < 0 ? GRAYBMP_LENGTH_UNKNOWN : static_cast<std::uint64_t>(length);
    if (graybmp_read_header(in.data(), in.size(), whole, &o, &h, &e) != GRAYBMP_OK) raise(e);
    const char* kind = kindName(h.kind);
    const char* const pictures[] = {"PNG file", "JPEG file", "WebP file", "GIF file", "netpbm file"};
    const bool picture = h.kind >= GRAYBMP_KIND_PNG && h.kind <= GRAYBMP_KIND_NETPBM;
    py::object type = h.is_bmp != 0 ? py::object(py::str("BMP file"))
                      : picture     ? py::object(py::str(pictures[h.kind - GRAYBMP_KIND_PNG]))
                                    : py::object(py::none());
    if (picture && h.refusal.status != GRAYBMP_OK) kind = nullptr;
    return py::make_tuple(type,
                          h.size, h.width, h.height, h.bit_count,
                          kind != nullptr ? py::object(py::str(kind)) : py::object(py::none()),
                          h.refusal.status == GRAYBMP_OK ? py::object(py::none())
                                                         : errorOf(h.refusal));
}

// The output's name beside `input`: with `extension` in place of its own when given.
std::string grayName(const std::string& input, py::object extension) {
    const std::string ext = extension.is_none() ? std::string() : extension.cast<std::string>();
    const char* e = extension.is_none() ? nullptr : ext.c_str();
    std::string name(graybmp_output_name(input.c_str(), e, nullptr, 0), '\0');
    graybmp_output_name(input.c_str(), e, &name[0], name.size() + 1);
    return name;
}

// The picture kind of a file's first bytes ("png", ...), or None.
py::object pictureKind(py::handle data) {
    View in(data, false);
    const char* kind = kindName(graybmp_picture_kind(in.data(), in.size()));
    return kind != nullptr ? py::object(py::str(kind)) : py::object(py::none());
}

py::tuple methods() {
    py::list names;
    for (std::size_t i = 0; graybmp_method_name(i) != nullptr; ++i)
        names.append(graybmp_method_name(i));
    return py::tuple(names);
}

}  // namespace

PYBIND11_MODULE(_graybmp, m) {
    m.doc() = "The graybmp library's conversions; use the graybmp package, which wraps them.";
    errorType = PyErr_NewExceptionWithDoc(
        "graybmp.Error",
        "A BMP that graybmp refuses, or a conversion that could not be done.\n\n"
        "str() is the reason in the tool's words; .code is the library's fixed name for\n"
        "it, such as 'rows-do-not-fit' or 'output-is-input'.",
        PyExc_Exception, nullptr);
    if (errorType == nullptr) throw py::error_already_set();
    m.attr("Error") = py::handle(errorType);
    m.def("gray", &gray, py::arg("data"), py::arg("method") = "mean", py::arg("compact") = false,
          py::arg("levels") = py::none(), py::arg("depth") = py::none(),
          py::arg("dither") = py::none(), py::arg("background") = py::none(), py::arg("max_pixels") = py::none(),
          py::arg("serpentine") = py::none(), py::arg("strength") = py::none(), py::arg("tone") = py::none(),
          "The gray copy of the BMP or picture in `data` (any contiguous buffer), as bytes.");
    m.def("gray_inplace", &grayInplace, py::arg("buffer"), py::arg("method") = "mean",
          "Grays the BMP in the writable `buffer` where it lies.");
    m.def("convert_file", &convert, py::arg("src"), py::arg("dst"), py::arg("method"),
          py::arg("compact"), py::arg("in_place"), py::arg("levels") = py::none(),
          py::arg("depth") = py::none(), py::arg("dither") = py::none(), py::arg("background") = py::none(),
          py::arg("max_pixels") = py::none(), py::arg("serpentine") = py::none(), py::arg("strength") = py::none(), py::arg("tone") = py::none(),
          "Converts the file `src` into `dst`.");
    m.def("header", &header, py::arg("data"), py::arg("length"), py::arg("compact") = false,
          py::arg("levels") = py::none(), py::arg("depth") = py::none(),
          py::arg("dither") = py::none(), py::arg("background") = py::none(), py::arg("max_pixels") = py::none(),
          py::arg("serpentine") = py::none(), py::arg("strength") = py::none(), py::arg("tone") = py::none(),
          "The header's values of the first bytes of an input of `length` bytes (-1: unknown).");
    m.def("to_array", &toArray, py::arg("data"), py::arg("method"), py::arg("levels"),
          py::arg("dither"), py::arg("indices"), py::arg("background") = py::none(),
          py::arg("max_pixels") = py::none(), py::arg("serpentine") = py::none(), py::arg("strength") = py::none(), py::arg("tone") = py::none(),
          "The gray pixels of `data` in a new numpy array, top row first.");
    m.def("from_pixels", &fromPixels, py::arg("array"), py::arg("width"), py::arg("height"),
          py::arg("stride"), py::arg("layout"), py::arg("bottom_up"), py::arg("method"),
          py::arg("levels"), py::arg("depth"), py::arg("dither"), py::arg("background") = py::none(),
          py::arg("serpentine") = py::none(), py::arg("strength") = py::none(), py::arg("tone") = py::none(),
          "A gray BMP of pixels whose rows lie `stride` bytes apart.");
    m.def("gray_name", &grayName, py::arg("input"), py::arg("extension") = py::none(),
          "The name of the gray copy beside `input`: photo.bmp gives photoNEW.bmp; with an "
          "extension, photo.jpg and '.bmp' give photoNEW.bmp.");
    m.def("picture_kind", &pictureKind, py::arg("data"),
          "The picture kind of the first bytes of a file ('png', 'jpeg', 'webp', 'gif', 'netpbm'), or None.");
    m.attr("METHODS") = methods();
    py::list dithers;
    for (std::size_t i = 0; graybmp_dither_name(i) != nullptr; ++i) dithers.append(graybmp_dither_name(i));
    m.attr("DITHERS") = py::tuple(dithers);
    m.attr("__version__") = graybmp_version();
}
