nf :: Int -> Int
nf n = if n < 2 then 1 else nf (n - 1) + nf (n - 2) + 1

main :: IO ()
main = print (nf 27 `mod` 256)
