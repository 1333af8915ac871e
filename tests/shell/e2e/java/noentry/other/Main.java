package other;

// A jar without zobj.Run: the launch must fail with code 4.
public class Main {
    public static void main(String[] args) {
        System.out.println("not the launcher's entry");
    }
}
