package zlib;

// A runtime library of the test application, reached through the library part of the
// class path.
public class Helper {
    public static String text() {
        return "found";
    }
}
