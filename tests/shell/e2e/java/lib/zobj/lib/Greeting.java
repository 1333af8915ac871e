package zobj.lib;

// Lives in the runtime library, so the application finds it only when the launcher has
// downloaded the library and put it on the class path.
public class Greeting {
    public static String text() {
        return "greeting from the runtime library";
    }
}
